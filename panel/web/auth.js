// The panel's answer to the server's password challenge. SHA-256 comes from Web Crypto where the page is a
// secure context (localhost, https), and from the function below otherwise: plain http to a LAN address has no
// crypto.subtle, and the panel must work there too.
'use strict';

(() => {
  const sha256Fallback = (() => {
    const primes = [];
    for (let n = 2; primes.length < 64; ++n)
      if (primes.every(p => n % p)) primes.push(n);
    const frac = x => ((x - Math.floor(x)) * 0x100000000) >>> 0;
    const k = Uint32Array.from(primes, p => frac(Math.cbrt(p)));
    const h0 = Uint32Array.from(primes.slice(0, 8), p => frac(Math.sqrt(p)));
    const ror = (x, n) => (x >>> n) | (x << (32 - n));
    return bytes => {
      const length = bytes.length;
      const padded = new Uint8Array((((length + 8) >> 6) + 1) << 6);
      padded.set(bytes);
      padded[length] = 0x80;
      const view = new DataView(padded.buffer);
      view.setUint32(padded.length - 8, Math.floor(length / 0x20000000));
      view.setUint32(padded.length - 4, (length * 8) >>> 0);
      const h = Uint32Array.from(h0);
      const w = new Uint32Array(64);
      for (let block = 0; block < padded.length; block += 64) {
        for (let i = 0; i < 16; ++i) w[i] = view.getUint32(block + 4 * i);
        for (let i = 16; i < 64; ++i) {
          const s0 = ror(w[i - 15], 7) ^ ror(w[i - 15], 18) ^ (w[i - 15] >>> 3);
          const s1 = ror(w[i - 2], 17) ^ ror(w[i - 2], 19) ^ (w[i - 2] >>> 10);
          w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        let [a, b, c, d, e, f, g, hh] = h;
        for (let i = 0; i < 64; ++i) {
          const t1 = (hh + (ror(e, 6) ^ ror(e, 11) ^ ror(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i]) >>> 0;
          const t2 = ((ror(a, 2) ^ ror(a, 13) ^ ror(a, 22)) + ((a & b) ^ (a & c) ^ (b & c))) >>> 0;
          hh = g; g = f; f = e; e = (d + t1) >>> 0; d = c; c = b; b = a; a = (t1 + t2) >>> 0;
        }
        [a, b, c, d, e, f, g, hh].forEach((v, i) => { h[i] += v; });
      }
      const out = new DataView(new ArrayBuffer(32));
      h.forEach((v, i) => out.setUint32(4 * i, v));
      return new Uint8Array(out.buffer);
    };
  })();

  const base64 = bytes => btoa(String.fromCharCode(...bytes));
  async function sha256Base64(text, useFallback = false) {
    const bytes = new TextEncoder().encode(text);
    const subtle = !useFallback && globalThis.crypto && crypto.subtle;
    return base64(subtle ? new Uint8Array(await subtle.digest('SHA-256', bytes)) : sha256Fallback(bytes));
  }
  // base64(SHA-256(base64(SHA-256(password + salt)) + challenge)), as docs/websocket-api.md gives it.
  async function challengeAnswer(password, salt, challenge, useFallback = false) {
    return sha256Base64(await sha256Base64(password + salt, useFallback) + challenge, useFallback);
  }

  window.korvelAuth = { challengeAnswer, sha256Base64 };
})();
