// The line's view: polls the API and draws what it answers. Every text from the journal is set as
// text (textContent or an SVG text node), never as markup.
"use strict";

const POLL_MS = 1500;
const SPAN_HOURS = { "1h": 1, "8h": 8, "24h": 24, "7d": 168 };
const SVG = "http://www.w3.org/2000/svg";
// The columns of log's table, in its order.
const COLUMNS = ["id", "started", "station", "command", "port", "firmware", "serial", "result", "seconds"];

const state = { result: "", unit: "", busy: false };

function $(id) { return document.getElementById(id); }

function element(tag, text, className) {
  const made = document.createElement(tag);
  if (text !== undefined && text !== null) made.textContent = String(text);
  if (className) made.className = className;
  return made;
}

function svgElement(tag, attributes, text) {
  const made = document.createElementNS(SVG, tag);
  for (const [name, value] of Object.entries(attributes || {})) made.setAttribute(name, value);
  if (text !== undefined) made.textContent = String(text);
  return made;
}

function clear(node) {
  while (node.firstChild) node.removeChild(node.firstChild);
}

function two(n) { return String(n).padStart(2, "0"); }

// A journal time (UTC) in this browser's time: "2024-05-01 14:34:56", or the time alone.
function localTime(kept, timeOnly) {
  if (!kept) return "";
  const d = new Date(kept);
  const time = `${two(d.getHours())}:${two(d.getMinutes())}:${two(d.getSeconds())}`;
  return timeOnly ? time : `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())} ${time}`;
}

function fileName(path) {
  return path ? path.split("/").pop() : "";
}

function percent(fraction) {
  return fraction === null || fraction === undefined ? "–" : `${(fraction * 100).toFixed(1)} %`;
}

function failedResult(result) {
  return result !== "ok" && result !== "running";
}

function selection() {
  const span = $("span").value;
  return {
    span,
    since: new Date(Date.now() - SPAN_HOURS[span] * 3600 * 1000).toISOString(),
    station: $("station").value,
    firmware: $("firmware").value,
    recipe: $("recipe").value,
  };
}

// The parameters that have a value, as a URL's query: a space as %20 and a plus as %2B, since
// the API takes "+" as itself (a time's offset), not as a form's space.
function query(parameters) {
  return Object.entries(parameters)
    .filter(([, value]) => value !== "" && value !== undefined && value !== null)
    .map(([name, value]) => `${encodeURIComponent(name)}=${encodeURIComponent(value)}`)
    .join("&");
}

class NeedsToken extends Error {}
// The view's server or its journal cannot be reached: the banner says so.
class Away extends Error {}

async function getJson(path) {
  let answer;
  try {
    answer = await fetch(path, { cache: "no-store", credentials: "same-origin" });
  } catch (e) {
    throw new Away("the view's server does not answer");
  }
  if (answer.status === 401) throw new NeedsToken();
  let body = null;
  try { body = await answer.json(); } catch (e) { body = null; }
  if (answer.status === 503) throw new Away(body && body.error ? body.error : "the journal is away");
  if (!answer.ok) {
    const error = new Error(body && body.error ? body.error : `status ${answer.status}`);
    error.status = answer.status;
    throw error;
  }
  return body;
}

function showAway(reason) {
  const banner = $("away");
  banner.textContent = reason ? `The journal is away: ${reason}. Trying again…` : "";
  banner.hidden = !reason;
}

function drawHeadline(summary, span) {
  $("h-last-hour").textContent = summary.boards_last_hour;
  $("h-boards").textContent = summary.boards;
  $("h-boards-label").textContent = `boards, ${$("span").selectedOptions[0].textContent}`;
  $("h-per-hour").textContent = summary.boards_per_hour.toFixed(span === "1h" ? 0 : 1);
  $("h-first-pass").textContent = percent(summary.first_pass_yield);
  $("h-final").textContent = percent(summary.final_yield);
  $("h-median").textContent =
    summary.median_seconds === null ? "–" : `${summary.median_seconds.toFixed(1)} s`;
}

function chartSize(svg) {
  const width = Math.max(260, Math.round(svg.clientWidth || 600));
  const height = Math.max(150, Math.round(svg.clientHeight || 190));
  svg.setAttribute("viewBox", `0 0 ${width} ${height}`);
  return { width, height };
}

function drawHours(hours) {
  const svg = $("hours");
  clear(svg);
  const { width, height } = chartSize(svg);
  const left = 34, bottom = 20, top = 8;
  const plot = height - bottom - top;
  const most = Math.max(1, ...hours.map((h) => h.ok + h.failed));
  const step = (width - left - 4) / Math.max(1, hours.length);
  const labelEvery = Math.ceil(hours.length / Math.max(1, Math.floor((width - left) / 46)));
  let ok = 0, failed = 0;
  svg.appendChild(svgElement("line", { class: "axis", x1: left, y1: top + plot, x2: width, y2: top + plot }));
  svg.appendChild(svgElement("text", { x: left - 4, y: top + 10, "text-anchor": "end" }, most));
  svg.appendChild(svgElement("text", { x: left - 4, y: top + plot, "text-anchor": "end" }, 0));
  hours.forEach((hour, i) => {
    ok += hour.ok;
    failed += hour.failed;
    const x = left + i * step + step * 0.12;
    const w = Math.max(1, step * 0.76);
    const okHeight = (hour.ok / most) * plot;
    const failedHeight = (hour.failed / most) * plot;
    const group = svgElement("g", { "data-ok": hour.ok, "data-failed": hour.failed });
    const title = svgElement("title", {}, `${localTime(hour.hour)}: ${hour.ok} ok, ${hour.failed} failed`);
    group.appendChild(title);
    group.appendChild(svgElement("rect", { class: "bar-ok", x, width: w, y: top + plot - okHeight, height: okHeight }));
    group.appendChild(svgElement("rect", {
      class: "bar-failed", x, width: w, y: top + plot - okHeight - failedHeight, height: failedHeight }));
    svg.appendChild(group);
    if (i % labelEvery === 0) {
      const d = new Date(hour.hour);
      const label = hours.length > 48 ? `${two(d.getDate())}.${two(d.getMonth() + 1)}` : `${two(d.getHours())}:00`;
      svg.appendChild(svgElement("text", { x: x + w / 2, y: height - 5, "text-anchor": "middle" }, label));
    }
  });
  svg.dataset.ok = ok;
  svg.dataset.failed = failed;
}

// A failure's reason: its count, result, recipe (unless the view shows one recipe) and message.
function failureReason(failure, showRecipe) {
  const recipe = showRecipe && failure.recipe ? ` (${failure.recipe})` : "";
  const message = failure.message ? `: ${failure.message}` : "";
  return `${failure.jobs} × ${failure.result}${recipe}${message}`;
}

function drawFailures(failures, showRecipe) {
  const svg = $("failures");
  clear(svg);
  const { width, height } = chartSize(svg);
  if (failures.length === 0) {
    svg.appendChild(svgElement("text", { x: 8, y: 24 }, "No failures in the span."));
    return;
  }
  const rowHeight = Math.min(34, height / failures.length);
  const most = Math.max(...failures.map((f) => f.jobs));
  failures.forEach((failure, i) => {
    const y = i * rowHeight;
    const link = svgElement("a", { href: "#", class: "failure" });
    link.addEventListener("click", (event) => {
      event.preventDefault();
      state.result = failure.result;
      refresh();
    });
    const reason = failureReason(failure, showRecipe);
    link.appendChild(svgElement("title", {}, reason));
    link.appendChild(svgElement("rect", {
      class: "bar-failed", x: 0, y: y + rowHeight * 0.52, height: rowHeight * 0.38,
      width: Math.max(2, (failure.jobs / most) * (width - 50)) }));
    link.appendChild(svgElement("text", { x: 2, y: y + rowHeight * 0.45 }, reason.length > 90 ? reason.slice(0, 89) + "…" : reason));
    svg.appendChild(link);
  });
}

// What a station makes: the recipe its last job followed, else that job's firmware.
function productLine(station) {
  const firmware = fileName(station.firmware);
  const line = element("p", station.recipe || firmware || "no firmware", "product");
  if (station.recipe) line.title = firmware;
  return line;
}

function stationTile(station) {
  const tile = element("article", null, `tile ${station.state}`);
  tile.dataset.station = station.station;
  tile.appendChild(element("h3", station.station));
  tile.appendChild(productLine(station));
  const last = element("p");
  last.textContent = station.last_started
    ? `last board ${localTime(station.last_started, true)}: ${station.last_result}` : "no board yet";
  tile.appendChild(last);
  const jobs = station.jobs === 1 ? "1 job" : `${station.jobs} jobs`;
  tile.appendChild(element("p", `${jobs}, yield ${percent(station.yield)}`, "jobs"));
  if (station.running > 0) tile.appendChild(element("p", "running", "running"));
  if (station.state === "red") tile.appendChild(element("p", `${station.failures_in_a_row} failures in a row`));
  if (station.state === "amber") tile.appendChild(element("p", "idle for 10 minutes or more"));
  return tile;
}

function drawStations(stations) {
  const tiles = $("stations");
  clear(tiles);
  if (stations.length === 0) tiles.appendChild(element("p", "No station has flashed a board in the last 7 days.", "quiet"));
  for (const station of stations) tiles.appendChild(stationTile(station));
}

function keepChoices(select, entries) {
  const chosen = select.value;
  const known = new Set(Array.from(select.options).map((o) => o.value));
  for (const [value, label] of entries) {
    if (!known.has(value)) {
      select.appendChild(new Option(label, value));
      known.add(value);
    }
  }
  select.value = chosen;
}

function drawChoices(stations) {
  keepChoices($("station"), stations.map((s) => [s.station, s.station]));
  keepChoices($("firmware"), stations.filter((s) => s.firmware_sha256)
    .map((s) => [s.firmware_sha256, `${fileName(s.firmware)} (${s.firmware_sha256.slice(0, 8)})`]));
  keepChoices($("recipe"), stations.filter((s) => s.recipe).map((s) => [s.recipe, s.recipe]));
}

function cellText(job, column) {
  switch (column) {
    case "started": return localTime(job.started);
    case "port": return job.address === null ? job.port : `${job.port}:${job.address}`;
    case "firmware": return fileName(job.firmware);
    case "seconds": return job.seconds === null ? "" : job.seconds.toFixed(1);
    default: return job[column] === null ? "" : job[column];
  }
}

function jobCell(job, column, showRecipe) {
  const cell = element("td", cellText(job, column));
  if (column === "id" || column === "seconds" || column === "serial") cell.className = "number";
  if (column === "result") cell.className = failedResult(job.result) ? "result-failed" : `result-${job.result}`;
  if (column === "started") cell.title = job.started;
  if (column === "station" || column === "firmware") cell.title = job[column] || "";
  if (column === "firmware" && showRecipe && job.recipe) cell.appendChild(element("span", job.recipe, "recipe"));
  return cell;
}

// The jobs in log's columns; the recipe a job followed beside its firmware, unless `showRecipe`
// is false (the view shows one recipe).
function drawTable(table, jobs, showRecipe) {
  const head = table.tHead;
  if (!head.rows.length) {
    const row = head.insertRow();
    for (const column of COLUMNS) row.appendChild(element("th", column));
  }
  const body = table.tBodies[0];
  clear(body);
  for (const job of jobs) {
    const row = body.insertRow();
    row.dataset.id = job.id;
    for (const column of COLUMNS) row.appendChild(jobCell(job, column, showRecipe));
  }
}

async function drawUnit() {
  if (!state.unit) return;
  $("unit").hidden = false;
  $("unit-serial").textContent = state.unit;
  try {
    const jobs = await getJson(`/api/unit/${encodeURIComponent(state.unit)}`);
    $("unit-said").textContent = `${jobs.length} job${jobs.length === 1 ? "" : "s"}, newest first`;
    drawTable($("unit-jobs"), jobs, true);
  } catch (e) {
    if (e instanceof Away || e instanceof NeedsToken) throw e;
    $("unit-said").textContent = e.message;
    drawTable($("unit-jobs"), [], true);
  }
}

async function refresh() {
  if (state.busy) return;
  state.busy = true;
  const chosen = selection();
  const filters = { station: chosen.station, firmware_sha256: chosen.firmware, recipe: chosen.recipe };
  const jobsQuery = query({ ...filters, since: chosen.since, result: state.result, limit: 50 });
  try {
    const [summary, jobs] = await Promise.all([
      getJson(`/api/summary?${query({ ...filters, span: chosen.span })}`),
      getJson(`/api/jobs?${jobsQuery}`),
    ]);
    $("login").hidden = true;
    $("view").hidden = false;
    showAway("");
    drawHeadline(summary, chosen.span);
    drawHours(summary.hours);
    drawFailures(summary.failures, !chosen.recipe);
    drawStations(summary.stations);
    drawChoices(summary.stations);
    $("jobs-title").textContent = state.result ? `Last 50 jobs that ended ${state.result}` : "Last 50 jobs";
    $("jobs-all").hidden = !state.result;
    drawTable($("jobs"), jobs, !chosen.recipe);
    $("csv").href = `/api/jobs.csv?${query({ ...filters, since: chosen.since, result: state.result, limit: 0 })}`;
    await drawUnit();
    $("updated").textContent = `updated ${localTime(summary.now, true)}`;
  } catch (e) {
    if (e instanceof NeedsToken) {
      $("view").hidden = true;
      $("login").hidden = false;
    } else {
      showAway(e.message);
    }
  } finally {
    state.busy = false;
  }
}

function start() {
  $("choice").addEventListener("change", () => refresh());
  $("search").addEventListener("submit", (event) => {
    event.preventDefault();
    state.unit = $("serial").value.trim();
    $("unit").hidden = !state.unit;
    refresh();
  });
  $("unit-close").addEventListener("click", () => {
    state.unit = "";
    $("unit").hidden = true;
  });
  $("jobs-all").addEventListener("click", () => {
    state.result = "";
    refresh();
  });
  $("login").addEventListener("submit", (event) => {
    event.preventDefault();
    const secure = location.protocol === "https:" ? "; Secure" : "";
    document.cookie = `quenta_token=${encodeURIComponent($("token").value)}; path=/; SameSite=Strict${secure}`;
    $("login-said").textContent = "Checking the token…";
    refresh().then(() => {
      $("login-said").textContent = $("login").hidden ? "" : "That token is not this view's.";
    });
  });
  refresh();
  setInterval(refresh, POLL_MS);
}

start();
