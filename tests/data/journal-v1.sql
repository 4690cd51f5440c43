--
-- PostgreSQL database dump
--

-- Dumped from database version 15.18 (Debian 15.18-0+deb12u1)
-- Dumped by pg_dump version 15.18 (Debian 15.18-0+deb12u1)

SET statement_timeout = 0;
SET lock_timeout = 0;
SET idle_in_transaction_session_timeout = 0;
SET client_encoding = 'UTF8';
SET standard_conforming_strings = on;
SELECT pg_catalog.set_config('search_path', '', false);
SET check_function_bodies = false;
SET xmloption = content;
SET client_min_messages = warning;
SET row_security = off;

SET default_tablespace = '';

SET default_table_access_method = heap;

--
-- Name: jobs; Type: TABLE; Schema: public; Owner: quenta
--

CREATE TABLE public.jobs (
    id bigint NOT NULL,
    started text NOT NULL,
    seconds double precision,
    station text,
    operator text,
    tool text,
    command text,
    port text,
    device text,
    usb_id text,
    usb_serial text,
    address bigint,
    bootloader text,
    firmware text,
    firmware_sha256 text,
    records bigint,
    series text,
    serial bigint,
    result text NOT NULL,
    exit bigint,
    lines bigint,
    retries bigint,
    resumed bigint,
    message text
);

ALTER TABLE public.jobs OWNER TO quenta;

--
-- Name: jobs_id_seq; Type: SEQUENCE; Schema: public; Owner: quenta
--

CREATE SEQUENCE public.jobs_id_seq
    START WITH 1
    INCREMENT BY 1
    NO MINVALUE
    NO MAXVALUE
    CACHE 1;

ALTER TABLE public.jobs_id_seq OWNER TO quenta;

--
-- Name: jobs_id_seq; Type: SEQUENCE OWNED BY; Schema: public; Owner: quenta
--

ALTER SEQUENCE public.jobs_id_seq OWNED BY public.jobs.id;

--
-- Name: schema; Type: TABLE; Schema: public; Owner: quenta
--

CREATE TABLE public.schema (
    version integer NOT NULL
);

ALTER TABLE public.schema OWNER TO quenta;

--
-- Name: series; Type: TABLE; Schema: public; Owner: quenta
--

CREATE TABLE public.series (
    name text NOT NULL,
    next bigint NOT NULL
);

ALTER TABLE public.series OWNER TO quenta;

--
-- Name: jobs id; Type: DEFAULT; Schema: public; Owner: quenta
--

ALTER TABLE ONLY public.jobs ALTER COLUMN id SET DEFAULT nextval('public.jobs_id_seq'::regclass);

--
-- Data for Name: jobs; Type: TABLE DATA; Schema: public; Owner: quenta
--

COPY public.jobs (id, started, seconds, station, operator, tool, command, port, device, usb_id, usb_serial, address, bootloader, firmware, firmware_sha256, records, series, serial, result, exit, lines, retries, resumed, message) FROM stdin;
1	2026-12-07T06:56:30.110Z	0.11	line-1	ana	quenta-flash 4.1.0	flash	/tmp/fx/board	/dev/pts/0	\N	\N	\N	VER=4.1	/work/wt-recipes/samples/blink.hex	0c38529d25fddb11a23ec18c37a61e14e3375db741868d588536de1a21f998c6	8	default	1	ok	0	10	0	0	downloaded and verified
2	2026-12-07T06:56:30.471Z	0.112	line-1	ana	quenta-flash 4.1.0	flash	/tmp/fx/board	/dev/pts/0	\N	\N	\N	VER=4.1	/work/wt-recipes/samples/blink.hex	0c38529d25fddb11a23ec18c37a61e14e3375db741868d588536de1a21f998c6	8	default	40	ok	0	10	0	0	downloaded and verified
3	2026-12-07T06:56:30.990Z	0	line-2	bo	quenta-flash 4.1.0	verify	/dev/quenta-none	/dev/quenta-none	\N	\N	\N	\N	/work/wt-recipes/samples/blink.hex	0c38529d25fddb11a23ec18c37a61e14e3375db741868d588536de1a21f998c6	8	\N	\N	port-error	3	8	0	0	There is no /dev/quenta-none. Ports found: /dev/ttyS0.
4	2026-12-07T06:56:31.248Z	0.001	line-2	bo	quenta-flash 4.1.0	install	/tmp/fx/board	/dev/pts/0	\N	\N	\N	VER=4.1	\N	\N	\N	\N	\N	ok	0	0	0	0	the firmware was started
\.

--
-- Data for Name: schema; Type: TABLE DATA; Schema: public; Owner: quenta
--

COPY public.schema (version) FROM stdin;
1
\.

--
-- Data for Name: series; Type: TABLE DATA; Schema: public; Owner: quenta
--

COPY public.series (name, next) FROM stdin;
default	41
\.

--
-- Name: jobs_id_seq; Type: SEQUENCE SET; Schema: public; Owner: quenta
--

SELECT pg_catalog.setval('public.jobs_id_seq', 4, true);

--
-- Name: jobs jobs_pkey; Type: CONSTRAINT; Schema: public; Owner: quenta
--

ALTER TABLE ONLY public.jobs
    ADD CONSTRAINT jobs_pkey PRIMARY KEY (id);

--
-- Name: series series_pkey; Type: CONSTRAINT; Schema: public; Owner: quenta
--

ALTER TABLE ONLY public.series
    ADD CONSTRAINT series_pkey PRIMARY KEY (name);

--
-- Name: jobs_serial; Type: INDEX; Schema: public; Owner: quenta
--

CREATE INDEX jobs_serial ON public.jobs USING btree (serial);

--
-- Name: jobs_started; Type: INDEX; Schema: public; Owner: quenta
--

CREATE INDEX jobs_started ON public.jobs USING btree (started);

--
-- PostgreSQL database dump complete
--

