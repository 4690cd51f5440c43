#include "flash/frame/ManualText.h"

namespace quenta::flash::manual {

const char *const kDescription = R"(.SH DESCRIPTION
.B quenta\-flash
speaks the bootloader's line protocol (one text command a line, one answer a command, optionally
in Modbus RTU frames) without clicks: each next command goes out the moment the answer to the last
one is in. A command whose answer does not come is sent again; a job whose port drops waits for
it, probes the bootloader again and goes on. Every board on a Modbus bus can be flashed in one
call, and several ports at once.
.PP
A job ends
.B ok
only after a verify pass that ran from the first line to the end record on the board as it is
now, in which every line got exactly one answer, in order, with no re\-send, no late, extra or
unreadable answer and no lost port, followed by a quiet as long as
.B \-\-timeout
in which nothing more came; with
.BI \-\-verify\-passes " N"
after N such passes in a row. Any disturbance voids the pass and a fresh verify follows (three
disturbed passes refuse the board). A board whose version text changed across a drop is another
board and is judged from scratch. A job goes on after at most 10 drops.
.PP
The bootloader's answers carry no sequence number, and a board's pace is its own business, so the
flasher judges an answer by its place alone, never by how soon it came: an answer belongs to a line
only if it began after the line was written; every line gets exactly one answer, in order; after
the end record, anything but line ends within the timeout is an answer too many. An
.B ERROR
refuses the board at once: nothing more is sent, and the quiet after it (the timeout) tells
whether it answered the line in flight or, an answer too many having come or the quiet having
been cut short by a lost port or a stop, possibly an earlier one ("line 7 or an earlier one").
.B FORMAT
answers no line: the line's answer is still to come. An answer without its line end is taken once
the line has been quiet for 40\~ms. A copy or a stray
.B OK
taken for a line's answer, and a lost
.B ERROR
in the same verify pass, is more than one pass can tell: on a line that noisy, verify in two
passes.
.PP
Progress goes to standard error, one line per board redrawn in place, and only on a terminal.
The report goes to standard output once, at the end: text, or with
.B \-\-json
one JSON object.
)";

const char *const kReport = R"(.SH "JSON REPORT"
One object:
.BR command " (null when none was understood), " ok ", " exit ", " boards ,
and for
.B check
also
.B checks
.RI ( port ", " name ", " ok ", " message ),
for
.B ports
also
.B ports
.RI ( path ", " by\-id ", " vid ", " pid ", " maker ", " description ", " serial ),
and for a usage error
.BR message .
Each board:
.B port
(as given),
.B address
(null without Modbus),
.B version
(the bootloader's answer),
.B result
.RB ( {results} ),
.B lines
(records in the file),
.B commands
(commands sent once the bootloader answered),
.B retries
(re\-sends),
.B resumed
(times the job went on after the port came back),
.BR seconds ,
.B message
(which names the line, counted from 1, where a job failed),
.B journal
(the board's row in the journal, null without one),
.B serial
(the serial number written into it, null when none) and
.B firmware_sha256
(of the file's bytes, null without a file).
.SH "JSON LINES"
With
.B \-\-json\-lines
a program that follows the run reads one JSON object a line on standard output, each flushed at
once:
.B {"event":"start"}
when a board's job begins (with
.BR port ", " address ", " serial ;
a flash that writes serial numbers takes the board's once it has reached the board, so its
.B serial
is null here and given in the board's report),
.B {"event":"progress"}
at most ten times a second a board (with
.BR port ", " address ", " pass " (" download " or " verify "), " line ", " lines ),
.B {"event":"board"}
with the board's report when it is done, and last
.B {"event":"end"}
with the run's report. No other report is printed.
.SH JOURNAL
Every board job of flash, verify, install and set\-address is a row of the journal, failures
too: written
.B running
when the job starts (or when the run decides the board's outcome without one), completed at its
end with the result, the exit status, the bootloader's version, the device and its USB id and
serial number, the firmware's name and SHA\-256, the recipe's name and SHA\-256, the station and
the operator. A run that is killed leaves its rows
.BR running .
The journal is opened before any port is touched; when it cannot be, nothing is sent and the exit
status is 6. Every report names the journal it wrote to. One station keeps an SQLite file; the
stations of a line share a PostgreSQL database, to which a station connects again, for up to
.BR \-\-wait ,
when the server restarts. With
.BR \-\-serial\-at ,
each board of a flash takes the next number of its series from the journal once it has answered
with a version the recipe accepts, written into its row in the same transaction, and is then
flashed with it: a port that cannot be opened, a board that never answers and a board refused as
.B wrong\-board
take none. A number once handed out is never given again, even when the job fails after it.
.SH RECIPES
A recipe is a TOML file that pins one product's settings:
.B schema_version = 1
and
.BR name ;
.B [firmware]
.B file
(relative to the recipe's folder) and
.B sha256
(a file with another SHA\-256 is refused, exit status 2, nothing sent);
.B [board] version
(a regular expression the whole VER= text must match, else the board ends
.BR wrong\-board ,
exit status 1, before a line is written);
and the options of the tables below, each a key of its own ({recipeKeys}).
.B [link]
takes
.B baud
or
.BR usb ,
not both;
.B addresses
is a list or \(dqall\(dq;
.B [journal] url
is required with [serial] and holds no password: libpq reads it from ~/.pgpass or PGPASSWORD.
An unknown key or a value of the wrong type is refused, naming its line and column, and so, before
it is read, is a line with more than 32 dots outside texts and comments or lists and tables nested
more than 32 deep. What a recipe
pins cannot be given on the command line; only
{perRunOptions}
may be added, and
.B \-\-station
only when the recipe names none.
.B check \-\-recipe FILE
checks the recipe without a board and prints what it pins;
.B log \-\-recipe FILE
lists the jobs of the journal its
.B [journal] url
names.
)";

const char *const kLineView = R"(.SH "LINE VIEW"
.B serve
shows the journal, live and read only, to a browser:
.B http://127.0.0.1:8470/
by default. The page shows, for a span (the last hour, a shift of 8 hours, 24 hours or 7 days)
and optionally one station, one firmware and one recipe: the boards of the last hour and of the
span, boards per hour, first\-pass yield (units ok on their first job of the span, among units
with a serial number; a job without one is a unit of its own), final yield, the median job time,
boards per hour as a chart, failures by reason and recipe, a tile per station with the recipe its
last job followed, or its firmware when it followed none (green; amber when idle for 10 minutes;
red after three failed jobs in a row), the last 50 jobs in log's columns with the recipe each
followed, a unit's history by its serial number and a CSV of the span. It asks the API every
1.5 s and shows a red banner while the journal is away.
.PP
With
.B \-\-recipe FILE
it shows the journal that the recipe's
.B [journal] url
names; a recipe that names none is refused (exit 2).
.PP
The journal is opened read only: a journal that is not there, or of an older or newer schema, is
refused (exit 6) and nothing is made or changed. It is read on a thread of its own, so that a slow
query delays no other answer but the work queued behind it; a PostgreSQL server that restarts is
connected to again at the next request. Only GET and HEAD are answered; the Host header must name
the listen address (or localhost, on loopback or on every address) or a name given with
.BR \-\-allow\-host .
An address other than loopback needs
.BR \-\-token\-file :
every request then carries the token, as
.B "Authorization: Bearer TOKEN"
or through the page's login form (a cookie); without it the answer is 401.
.PP
With
.B \-\-tls\-cert FILE \-\-tls\-key FILE
the view answers HTTPS only (TLS 1.2 or later), and the page's cookie is kept for HTTPS alone.
Over plain HTTP the token crosses the network as it is: enough on a network that only the line's
own machines reach, not on one that others share (an office network, Wi\-Fi), where anyone on it
could read the token.
.PP
What a client can make the view hold is bounded: at most 8 connections at once from one client
(an IPv4 address, or an IPv6 /64 network) and 256 in all, more being closed at once; a request's
head of at most 32 KiB (431 beyond), whole within 10 s of the connection opening or of its last
answer leaving, else the connection is closed; a path of 256 bytes, a query of 1024 (414 beyond)
and 48 headers of 16 KiB in all (431). Requests of one connection are answered in their order,
one at a time; while more than 256 KiB of answers wait for the client to read them nothing more
is read from it, and a client that reads nothing of them for 30 s is cut off. A request that says
.BR "Connection: close" ,
one of HTTP/1.0 and one that announces a body (400) are answered and the connection closed.
.SH "HTTP API"
Every answer is JSON (the CSV and the metrics excepted); an error is
.B {"error": "..."}
with its status: 400 for a parameter that is unknown, given twice or wrong (the reason says which,
as for log's options), 401 without the token, 404, 405 for a method other than GET and HEAD, 414 and
431 for a request past the bounds, 421 for another host, 503 while the journal cannot be read. A parameter's value is percent\-encoded: a
space is %20, and + stands for itself.
.TP
.B GET /api/summary
.RB "Parameters " span " (" 1h ", " 8h ", " 24h ", " 7d "; default " 8h "), " station ,
.BR firmware_sha256 ", " recipe " (its name, as the journal keeps it)."
Answers
.BR span ", " since ", " now ", " boards_last_hour ", " boards ", " ok ", " boards_per_hour ,
.BR units ", " first_pass_yield ", " final_yield " (fractions, null without jobs), " median_seconds ,
.B hours
(every hour of the span:
.BR hour ", " ok ", " failed ),
.B failures
(the ten most frequent, by result, message and recipe:
.BR result ", " message ", " recipe " (null for none), " jobs )
and
.B stations
(each station with a job in the last 7 days:
.BR station ", " firmware ", " firmware_sha256 ", " recipe ", " recipe_sha256 " (of its last job; null for none),"
.BR last_started ", " last_result ", " last_ended ,
.BR jobs ", " ok ", " yield " (in the span), " running ", " failures_in_a_row ", " state ).
.TP
.B GET /api/jobs
.RB "A page of the jobs, newest first, as " "log \-\-json" " gives them. Parameters " since " (ISO 8601), " result ,
.BR serial ", " firmware_sha256 ", " station ", " recipe ", " limit " (1 to 1000, default 20) and"
.BR after .
A full page's answer has the header
.BR "Link: </api/jobs?...&after=CURSOR>; rel=""next""" :
the same query, for the jobs after the page's last one.
.TP
.B GET /api/jobs.csv
The same jobs as
.B log \-\-csv
gives them,
.B limit
of them (default 20; 0 for all): read from the journal and sent in chunks as the client takes them.
.TP
.B GET /api/unit/N
Every job that wrote serial number N, newest first; 404 when none did.
.TP
.B GET /metrics
The journal's figures in Prometheus' text format, under the same token and Host rules:
.B quenta_boards_total
(boards whose job ended, by
.BR station ", " recipe " and " result ),
.B quenta_board_seconds_total
(the seconds those jobs took, by station and recipe),
.B quenta_boards_running
(jobs open now, started within the hour),
.B quenta_last_board_started_seconds
(each station's last start, Unix time) and
.B quenta_journal_up
(1, or 0 while the journal cannot be read). The counters count the whole journal; a missing station
or recipe is "". Prometheus sends the token with
.B "authorization: {credentials_file: FILE}"
in the view's scrape configuration.
)";

const char *const kExamples = R"(.SH EXAMPLES
Try it at once, without a board, with the simulated board and the sample firmware the package
ships:
.PP
.nf
.RS
quenta\-simboard \-\-link /tmp/board &
quenta\-flash \-p /tmp/board flash /usr/share/doc/quenta/examples/blink.hex
.RE
.fi
.PP
One board on a USB serial adapter:
.PP
.nf
.RS
quenta\-flash \-p /dev/ttyUSB0 flash firmware.hex
.RE
.fi
.PP
Every board on an RS\-485 bus, with a JSON report:
.PP
.nf
.RS
quenta\-flash \-p /dev/serial/by\-id/usb\-FTDI_USB\-RS485\-if00\-port0 \-m \-a all \-\-json \e
    flash firmware.hex > report.json
.RE
.fi
.PP
Three jigs at once, one board each:
.PP
.nf
.RS
quenta\-flash \-p /dev/ttyUSB0 \-p /dev/ttyUSB1 \-p /dev/ttyUSB2 flash firmware.hex
.RE
.fi
.PP
A production line's station: a board on USB that appears once powered, the exit status read by
the line's script:
.PP
.nf
.RS
quenta\-flash \-\-usb \-\-wait 30 \-p /dev/ttyACM0 \-\-json flash firmware.hex > "unit\-$(date +%s).json"
case $? in 0) echo pass ;; 1) echo "refused: rework" ;; *) echo "station needs a look" ;; esac
.RE
.fi
.PP
A line's station, numbering each unit and recording it in the line's database, then finding a
unit by its number:
.PP
.nf
.RS
quenta\-flash \-J 'postgresql://quenta@db.line/quenta' \-\-serial\-at 0x7FF0 \-p usb:A50285BI \e
    flash firmware.hex
quenta\-flash \-J 'postgresql://quenta@db.line/quenta' log \-\-serial 1042
.RE
.fi
.PP
The same station following the product's recipe:
.PP
.nf
.RS
quenta\-flash \-\-recipe blink.toml check
quenta\-flash \-\-recipe blink.toml \-p usb:A50285BI \-\-operator ana flash
.RE
.fi
.PP
The line's view for the supervisors' network, with a token:
.PP
.nf
.RS
head \-c 24 /dev/urandom | base64 > ~/.config/quenta\-token
quenta\-flash \-J postgresql://quenta@db.line/quenta serve \-\-listen 0.0.0.0:8470 \e
    \-\-token\-file ~/.config/quenta\-token \-\-allow\-host line\-view.plant
.RE
.fi
.SH ENVIRONMENT
.TP
.B QUENTA_JOURNAL
The journal's URL when
.B \-\-journal
is not given. Quote it for the shell: an unquoted
.I &
cuts it, as in
.IR "export QUENTA_JOURNAL='postgresql://quenta@/quenta?host=/var/run/postgresql&port=5432'" .
.TP
.B XDG_DATA_HOME
The station's own journal is
.I $XDG_DATA_HOME/quenta/journal.sqlite
(without it,
.IR ~/.local/share/quenta/journal.sqlite ).
.TP
.B TERM
Progress is drawn in place only when standard error is a terminal.
.SH FILES
.TP
.I /dev/serial/by\-id/
Stable names of USB serial ports, offered by
.B ports
and by the completion.
.SH "SEE ALSO"
.BR quenta (1),
.BR quenta\-simboard (1)
)";

} // namespace quenta::flash::manual
