// The page: three views (Align, Measure, Runs) over one WebSocket.
import { Connection, clientNow, decodeFrame, post } from "./protocol.js";
import { Plot, indices } from "./plots.js";

const $ = (selector) => document.querySelector(selector);
const ZOOM_HALF = 256;
const HISTORY_SECONDS = 60;

// What the tests and the benchmark read: frames drawn, and the delay from a
// file's co-add signal to its frame drawn, in ms on the server's clock.
// Of that delay, the server's share (the file reaching it to the frame sent).
const stats = { alignDrawn: 0, measureDrawn: 0, latency: [], alignLatency: [], serverShare: [],
  serverCpu: [], bandsLatency: [], pageShare: [] };
window.nadixqStats = stats;

let status = null;
let connection = null;

// Views -----------------------------------------------------------------------

const plots = {};

function showView(name) {
  for (const tab of document.querySelectorAll(".tab")) {
    tab.classList.toggle("selected", tab.dataset.view === name);
  }
  for (const view of document.querySelectorAll(".view")) {
    view.hidden = view.id !== `view-${name}`;
  }
  for (const plot of Object.values(plots)) plot.resize();
}

function makePlots() {
  plots.full = new Plot($("#ifg-full"), {
    title: "interferogram", x: "point", y: "counts", series: ["interferogram"],
    drawn: () => noteDrawn("align"),
  });
  plots.zoom = new Plot($("#ifg-zoom"), {
    title: "centre burst", x: "point", y: "counts", series: ["interferogram"],
  });
  plots.history = new Plot($("#pp-history"), {
    title: "peak-to-peak, last 60 s", x: "seconds before the newest scan", y: "counts",
    series: ["peak-to-peak"], height: 160,
  });
  plots.single = new Plot($("#single-beam"), {
    title: "single beam", x: "wavenumber / cm⁻¹", y: "intensity", ir: true, cursor: true,
    series: ["this file", "background"], drawn: () => noteDrawn("measure"),
  });
  makeRatioPlot("absorbance");
}

// Align -----------------------------------------------------------------------

const history = { t: [], pp: [] };
const drawnTimes = [];
let lastMeasure = null;

// The frame of each kind whose plot is being drawn.
const drawing = { align: null, measure: null };

function noteDrawn(kind) {
  const frame = drawing[kind];
  if (!frame) return;
  drawing[kind] = null;
  const signal = frame.header.t_signal;
  if (signal == null) return;
  const delay = connection.serverNow() - signal;
  const list = kind === "align" ? stats.alignLatency : stats.latency;
  if (list.length < 100000) list.push(delay);
  if (kind === "measure" && stats.serverShare.length < 100000) {
    stats.serverShare.push(frame.header.t_sent - signal);
    stats.serverCpu.push(frame.header.cpu_ms);
    stats.pageShare.push(clientNow() - frame.received);
  }
  if (kind === "align") stats.alignDrawn++;
  else stats.measureDrawn++;
}

function drawAlign(frame) {
  const { header, arrays } = frame;
  const ifg = arrays.ifg;
  $("#pp").textContent = header.pp.toFixed(1);
  $("#zpd").textContent = header.zpd == null ? "none" : header.zpd;
  $("#signal").textContent = header.signal.toFixed(1);
  const now = clientNow();
  drawnTimes.push(now);
  while (drawnTimes.length && drawnTimes[0] < now - 2000) drawnTimes.shift();
  $("#rate").textContent = (drawnTimes.length / 2).toFixed(1);

  drawing.align = frame;
  plots.full.set([indices(ifg.length), ifg]);
  const centre = header.zpd == null ? ifg.length >> 1 : header.zpd;
  const start = Math.max(0, centre - ZOOM_HALF);
  const end = Math.min(ifg.length, centre + ZOOM_HALF);
  plots.zoom.set([indices(end - start, start), ifg.subarray(start, end)]);

  const seconds = header.t_signal / 1000;
  const last = history.t[history.t.length - 1];
  if (last !== undefined && seconds - last > 1) {
    // A pause between runs is a gap in the strip, not a line across it.
    history.t.push(last + 0.001);
    history.pp.push(null);
  }
  history.t.push(seconds);
  history.pp.push(header.pp);
  while (history.t.length && history.t[0] < seconds - HISTORY_SECONDS) {
    history.t.shift();
    history.pp.shift();
  }
  plots.history.set([history.t.map((t) => t - seconds), history.pp]);
}

// Measure ---------------------------------------------------------------------

// The absorbance, or the transmittance, against the background.
function makeRatioPlot(kind) {
  if (plots.ratio) plots.ratio.destroy();
  plots.ratio = new Plot($("#ratio"), {
    title: kind, x: "wavenumber / cm⁻¹", y: kind, ir: true, cursor: true,
    series: [kind], draw: labelBands,
  });
}

function ratioKind() {
  return $("#ratio-kind").value;
}

function labelBands(u) {
  if (!lastMeasure) return;
  const { ctx } = u;
  ctx.save();
  ctx.fillStyle = "#1d2733";
  ctx.font = `${Math.round(11 * devicePixelRatio)}px system-ui, sans-serif`;
  ctx.textAlign = "center";
  const transmittance = ratioKind() === "transmittance";
  for (const [wavenumber, height] of lastMeasure.header.bands || []) {
    const x = u.valToPos(wavenumber, "x", true);
    const y = u.valToPos(transmittance ? Math.pow(10, -height) : height, "y", true);
    ctx.fillText(wavenumber.toFixed(0), x, transmittance ? y + 14 * devicePixelRatio : y - 4);
  }
  ctx.restore();
}

function drawMeasure(frame) {
  const { header, arrays } = frame;
  lastMeasure = frame;
  if (!header.bands && pendingBands && pendingBands.run === header.run &&
      pendingBands.file === header.file) {
    header.bands = pendingBands.bands;
  }
  const wavenumber = arrays.wavenumber;
  drawing.measure = frame;
  plots.single.set([wavenumber, arrays.single, arrays.background || new Float32Array(wavenumber.length).fill(NaN)]);
  let ratio = arrays.absorbance;
  if (ratio && ratioKind() === "transmittance") ratio = ratio.map((a) => Math.pow(10, -a));
  plots.ratio.uplot.setSeries(1, { show: !!ratio });
  plots.ratio.set([wavenumber, ratio || new Float32Array(wavenumber.length).fill(NaN)]);
  showBands(header.bands || []);
  $("#shown-run").textContent = header.kept
    ? `showing kept run ${header.run}`
    : `${header.kind} ${header.run}, file ${header.file}`;
}

function showBands(bands) {
  $("#bands").replaceChildren(...bands.map(([w, h]) => {
    const item = document.createElement("li");
    item.textContent = `${w.toFixed(1)}`;
    item.title = `absorbance ${h.toFixed(3)}`;
    return item;
  }));
}

// The bands of a file come in a message of their own after its frame (the
// search takes longer than the spectra); kept for a frame not yet drawn.
let pendingBands = null;

function takeBands(message) {
  pendingBands = message;
  if (!lastMeasure || lastMeasure.header.run !== message.run ||
      lastMeasure.header.file !== message.file) return;
  lastMeasure.header.bands = message.bands;
  showBands(message.bands);
  plots.ratio.uplot.redraw(false, false);
  if (stats.bandsLatency.length < 100000) {
    stats.bandsLatency.push(connection.serverNow() - message.t_signal);
  }
}

function settingsForm() {
  const form = $("#settings");
  const value = (name) => {
    const text = form.elements[name].value.trim();
    return text !== "" && !Number.isNaN(Number(text)) ? Number(text) : text;
  };
  return { resolution: value("resolution"), scans: value("scans"), files: value("files"),
    gain: value("gain") };
}

let formEdited = false;

function fillForm(settings) {
  if (formEdited) return;
  const form = $("#settings");
  for (const name of ["resolution", "scans", "files", "gain"]) {
    form.elements[name].value = settings[name];
  }
}

async function act(path, body) {
  const { ok, status: code, data } = await post(path, body);
  $("#form-error").textContent = "";
  if (ok) return true;
  const text = data.error || `refused (${code})`;
  if (code === 400) $("#form-error").textContent = text;
  else showNotice(text);
  return false;
}

function showNotice(text) {
  $("#notice").hidden = !text;
  $("#notice").textContent = text || "";
}

function ageText(milliseconds) {
  const seconds = Math.max(0, Math.round(milliseconds / 1000));
  if (seconds < 90) return `${seconds} s`;
  if (seconds < 5400) return `${Math.round(seconds / 60)} min`;
  return `${(seconds / 3600).toFixed(1)} h`;
}

function showBackgroundAge() {
  const label = $("#background-age");
  const background = status && status.background;
  label.classList.toggle("missing", !background);
  label.textContent = background
    ? `background ${ageText(connection.serverNow() - background.time)} old`
    : "no background: a sample shows its single beam only";
}

// Runs ------------------------------------------------------------------------

function describeSettings(settings) {
  if (!settings) return "";
  return `${settings.resolution} cm⁻¹, ${settings.scans} scans, gain ${settings.gain}`;
}

function showRuns(runs) {
  const body = $("#runs tbody");
  $("#no-runs").hidden = runs.length > 0;
  body.replaceChildren(...runs.map((run) => {
    const row = document.createElement("tr");
    row.dataset.id = run.id;
    const cells = [new Date(run.started).toLocaleString(), run.kind,
      describeSettings(run.settings), String(run.files), run.result];
    for (const text of cells) {
      const cell = document.createElement("td");
      cell.textContent = text;
      row.append(cell);
    }
    const actions = document.createElement("td");
    const open = document.createElement("button");
    open.textContent = "Open";
    open.className = "open-run";
    open.disabled = !run.files;
    open.addEventListener("click", () => openRun(run.id));
    actions.append(open);
    for (const extension of ["spc", "jdx"]) {
      const link = document.createElement("a");
      link.href = `/api/runs/${encodeURIComponent(run.id)}.${extension}`;
      link.textContent = `.${extension}`;
      link.className = `download-${extension}`;
      link.setAttribute("download", `${run.id}.${extension}`);
      actions.append(link);
    }
    row.append(actions);
    return row;
  }));
}

async function openRun(id) {
  const response = await fetch(`/api/runs/${encodeURIComponent(id)}/frame`);
  if (!response.ok) {
    showNotice(`run ${id}: ${response.status} ${response.statusText}`);
    return;
  }
  showView("measure");
  drawMeasure(decodeFrame(await response.arrayBuffer()));
}

// Status ----------------------------------------------------------------------

const MODES = { idle: "ready", opening: "opening the instrument…", align: "aligning",
  background: "background run", sample: "sample run" };

function showStatus(message) {
  status = message;
  const { mode, progress, fault, settings } = message;
  const busy = mode === "align" || mode === "background" || mode === "sample";
  const measuring = mode === "background" || mode === "sample";
  let state = `model ${message.model}: ${MODES[mode] || mode}`;
  if (measuring) {
    const files = progress.files_per_run ? `${progress.files_per_run}` : "∞";
    state += `, file ${Math.min(progress.files + 1, progress.files_per_run || Infinity)} of ${files}`;
  }
  if (message.points) state += ` · ${message.points} points`;
  $("#state").textContent = state;
  document.body.dataset.mode = mode;

  $("#banner").hidden = !fault;
  if (fault) {
    $("#banner-text").textContent = fault.code != null
      ? `${fault.message} — result ${fault.code}` : fault.message;
  }
  showNotice(message.notice);
  $("#align-start").disabled = mode !== "idle" || !message.open;
  $("#align-stop").disabled = mode !== "align";
  $("#background").disabled = measuring || mode === "opening" || !message.open;
  $("#sample").disabled = measuring || mode === "opening" || !message.open;
  $("#measure-stop").disabled = !busy;
  $("#scan-progress").textContent = measuring ? `${progress.scans} of ${progress.scans_per_file}` : "—";
  $("#scan-bar").max = progress.scans_per_file || 1;
  $("#scan-bar").value = measuring ? progress.scans : 0;
  $("#file-progress").textContent = measuring
    ? `${progress.files} of ${progress.files_per_run || "∞"}` : "—";
  $("#file-bar").max = progress.files_per_run || 1;
  $("#file-bar").value = measuring && progress.files_per_run ? progress.files : 0;
  $("#sim").hidden = !message.simulated;
  fillForm(settings);
  showBackgroundAge();
}

// Start -----------------------------------------------------------------------

function start() {
  makePlots();
  for (const tab of document.querySelectorAll(".tab")) {
    tab.addEventListener("click", () => showView(tab.dataset.view));
  }
  $("#align-start").addEventListener("click", () => act("/api/align"));
  $("#align-stop").addEventListener("click", () => act("/api/stop"));
  $("#measure-stop").addEventListener("click", () => act("/api/stop"));
  for (const kind of ["background", "sample"]) {
    $(`#${kind}`).addEventListener("click", async () => {
      if (await act("/api/measure", { kind, settings: settingsForm() })) formEdited = false;
    });
  }
  $("#settings").addEventListener("input", () => { formEdited = true; });
  $("#ratio-kind").addEventListener("change", () => {
    makeRatioPlot(ratioKind());
    if (lastMeasure) drawMeasure(lastMeasure);
  });
  $("#reopen").addEventListener("click", () => act("/api/open"));
  $("#unplug").addEventListener("click", () => act("/api/sim", { action: "unplug" }));
  $("#replug").addEventListener("click", () => act("/api/sim", { action: "replug" }));
  setInterval(showBackgroundAge, 1000);

  connection = new Connection({
    onState: (up) => {
      const label = $("#connection");
      label.textContent = up ? "connected" : "reconnecting…";
      label.className = up ? "up" : "down";
    },
    onMessage: (message) => {
      if (message.type === "status") showStatus(message);
      else if (message.type === "runs") showRuns(message.runs);
      else if (message.type === "bands") takeBands(message);
    },
    // Drawn as they come: the server sends a page only the newest frame
    // of each kind once the page has taken the one before.
    onFrame: (frame) => {
      if (frame.header.type === "align") drawAlign(frame);
      else if (frame.header.type === "measure") drawMeasure(frame);
    },
  });
  $("#loading").remove();
  fetch("/api/status").then((response) => {
    if (response.status === 401) {
      showNotice("This server asks for its token: open the address it printed " +
        "(the one ending in ?token=…) once in this browser.");
    }
  });
}

start();
