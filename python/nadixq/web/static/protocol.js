// The server's messages: binary data frames (a uint32 header length, a JSON
// header, float32 arrays) and JSON status; the WebSocket that carries them,
// reconnecting by itself; and the server's clock as seen from here.

export function decodeFrame(buffer) {
  const length = new DataView(buffer).getUint32(0, true);
  const header = JSON.parse(new TextDecoder().decode(new Uint8Array(buffer, 4, length)));
  const base = 4 + length;
  const arrays = {};
  for (const entry of header.arrays) {
    arrays[entry.name] = new Float32Array(buffer, base + entry.offset, entry.length);
  }
  if (header.axis) arrays.wavenumber = evenAxis(header.axis);
  return { header, arrays };
}

// An even axis sent as its first value, step and length; the last one made
// is kept, as the frames of a run share it.
let lastAxis = { key: "", values: new Float64Array(0) };
function evenAxis({ first, step, length }) {
  const key = `${first}:${step}:${length}`;
  if (lastAxis.key !== key) {
    const values = new Float64Array(length);
    for (let i = 0; i < length; i++) values[i] = first + i * step;
    lastAxis = { key, values };
  }
  return lastAxis.values;
}

// Milliseconds since 1970 on this machine's clock, to the microsecond.
export function clientNow() {
  return performance.timeOrigin + performance.now();
}

export class Connection {
  constructor({ onMessage, onFrame, onState }) {
    this.onMessage = onMessage;
    this.onFrame = onFrame;
    this.onState = onState;
    this.delay = 250;
    // The server's clock minus this one's, from the ping with the shortest
    // round trip.
    this.offset = 0;
    this.bestRoundTrip = Infinity;
    this.connect();
  }

  serverNow() {
    return clientNow() + this.offset;
  }

  connect() {
    const ws = new WebSocket(`ws://${location.host}/ws`);
    ws.binaryType = "arraybuffer";
    this.ws = ws;
    ws.onopen = () => {
      this.delay = 250;
      this.bestRoundTrip = Infinity;
      this.onState(true);
      for (let i = 0; i < 5; i++) setTimeout(() => this.ping(), 50 * i);
      this.pinger = setInterval(() => this.ping(), 5000);
    };
    ws.onmessage = (event) => {
      if (typeof event.data !== "string") {
        const frame = decodeFrame(event.data);
        frame.received = clientNow();
        this.onFrame(frame);
        return;
      }
      const message = JSON.parse(event.data);
      if (message.type === "pong") {
        const now = clientNow();
        const roundTrip = now - message.client;
        if (roundTrip < this.bestRoundTrip) {
          this.bestRoundTrip = roundTrip;
          this.offset = message.server - (message.client + now) / 2;
        }
        return;
      }
      this.onMessage(message);
    };
    ws.onclose = () => {
      clearInterval(this.pinger);
      this.onState(false);
      // Again and again, a little slower each time, until the server is back.
      setTimeout(() => this.connect(), this.delay);
      this.delay = Math.min(this.delay * 2, 2000);
    };
  }

  ping() {
    if (this.ws.readyState === WebSocket.OPEN) {
      this.ws.send(JSON.stringify({ type: "ping", client: clientNow() }));
    }
  }
}

// A POST to the API: resolves to { ok, status, data }.
export async function post(path, body = {}) {
  const response = await fetch(path, {
    method: "POST",
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify(body),
  });
  let data = {};
  try {
    data = await response.json();
  } catch (error) {
    data = { error: response.statusText };
  }
  return { ok: response.ok, status: response.status, data };
}
