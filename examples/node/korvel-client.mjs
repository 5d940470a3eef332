#!/usr/bin/env node
// A Korvel Control client in Node.js, to copy from.
//
// It connects to the WebSocket API, answers the password challenge if the application asks for one, waits until
// the console's state is complete, prints it, switches a module and prints the notification that follows, shows
// an error matched to its request by "id", then follows the level meters at 20 messages a second.
//
//     node korvel-client.mjs [URL] [--password TEXT] [--module mod1] [--seconds 5]
//
// Needs the npm package ws (npm ci in this folder). The protocol: docs/websocket-api.md.
import { createHash } from 'node:crypto';
import { once } from 'node:events';
import { parseArgs } from 'node:util';
import WebSocket from 'ws';

const defaultUrl = 'ws://127.0.0.1:19552/';
const replyTimeoutMs = 3000; // for a reply or notification; an older application ignores commands it lacks
const meteringIntervalMs = 50; // at most 20 meter messages a second, each the peak of its interval

// Ends the example with its text.
class ClientError extends Error {}
// The application answered a request with "error".
class Refused extends ClientError {}
class NoAnswer extends ClientError {}

const sha256Base64 = text => createHash('sha256').update(text, 'utf8').digest('base64');

// Rejects with NoAnswer(text) when the promise has not settled in time, after calling giveUp.
function withTimeout(promise, ms, text, giveUp = () => {}) {
  let timer;
  const late = new Promise((_, reject) => {
    timer = setTimeout(() => { giveUp(); reject(new NoAnswer(text)); }, ms);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

// One connection. Requests carry an "id"; the reply or error with that "id" goes to the request that sent it,
// everything else (notifications) waits in a queue until asked for.
class KorvelClient {
  constructor(socket) {
    this.socket = socket;
    this.nextId = 1;
    this.pending = new Map(); // id -> { resolve, reject } of the reply
    this.queue = []; // notifications nobody has asked for yet
    this.waiters = []; // { names, resolve, reject } of nextNotification calls
    socket.on('message', text => this.receive(JSON.parse(text)));
    socket.on('error', () => {}); // a broken connection also closes, and that is handled below
    socket.on('close', () => {
      const closed = new ClientError('the application closed the connection');
      for (const { reject } of [...this.pending.values(), ...this.waiters]) reject(closed);
      this.pending.clear();
      this.waiters = [];
    });
  }

  receive(message) {
    const reply = this.pending.get(message.id);
    if (reply) {
      this.pending.delete(message.id);
      reply.resolve(message);
      return;
    }
    if (message.msg === 'error' && !('id' in message) && this.pending.size) {
      // An error without "id" is about the connection ("authentication required"): it answers every waiting
      // request.
      for (const { resolve } of this.pending.values()) resolve(message);
      this.pending.clear();
      return;
    }
    const index = this.waiters.findIndex(waiter => waiter.names.includes(message.msg));
    if (index >= 0) this.waiters.splice(index, 1)[0].resolve(message);
    else this.queue.push(message);
  }

  // Sends one message with a fresh "id"; returns the id and the promise of its reply.
  send(msg, data) {
    const message = data === undefined ? { msg } : { msg, data };
    message.id = this.nextId++;
    const reply = new Promise((resolve, reject) => this.pending.set(message.id, { resolve, reject }));
    console.log('->', JSON.stringify(message));
    this.socket.send(JSON.stringify(message));
    return { id: message.id, reply };
  }

  // A query: resolves with the "data" of its reply, rejects with Refused on an error.
  async request(msg, data, { quiet = false } = {}) {
    const { id, reply } = this.send(msg, data);
    const message = await withTimeout(reply, replyTimeoutMs, `no reply to ${msg} within ${replyTimeoutMs / 1000} s`,
      () => this.pending.delete(id));
    if (!quiet || message.msg === 'error') console.log('<-', JSON.stringify(message));
    if (message.msg === 'error') throw new Refused(message.data);
    return message.data;
  }

  // A console command is not answered when it is carried out: the console's report comes back as a
  // notification to every client. Resolves with that notification; rejects with Refused when an error comes.
  async command(msg, data, notification) {
    const { id, reply } = this.send(msg, data);
    const refused = reply.then(message => {
      console.log('<-', JSON.stringify(message));
      throw new Refused(message.data);
    });
    const changed = this.nextNotification(notification);
    try {
      return await withTimeout(Promise.race([refused, changed]), replyTimeoutMs,
        `no ${notification} within ${replyTimeoutMs / 1000} s`);
    } finally {
      this.pending.delete(id);
      this.cancelWaiter(changed);
    }
  }

  // Resolves with the next message without "id" called by one of the names; those before it are passed over.
  nextNotification(...names) {
    while (this.queue.length) {
      const message = this.queue.shift();
      if (names.includes(message.msg)) return Promise.resolve(message);
    }
    let waiter;
    const promise = new Promise((resolve, reject) => { waiter = { names, resolve, reject }; });
    waiter.promise = promise;
    this.waiters.push(waiter);
    return promise;
  }

  cancelWaiter(promise) {
    this.waiters = this.waiters.filter(waiter => waiter.promise !== promise);
  }
}

// With a password set, the application opens with a challenge and serves nothing until it is answered. This
// handshake comes before "id" matching: its replies carry none.
async function authenticate(client, password) {
  const hello = await withTimeout(client.nextNotification('hello'), replyTimeoutMs,
    'a password was given but the application asks for none');
  const secret = sha256Base64(password + hello.data.salt);
  client.socket.send(JSON.stringify({ msg: 'authenticate', data: sha256Base64(secret + hello.data.challenge) }));
  const reply = await withTimeout(client.nextNotification('authenticated', 'error'), replyTimeoutMs,
    'no answer to the password');
  if (reply.msg !== 'authenticated') throw new ClientError(`password refused: ${reply.data}`);
  console.log('authenticated');
}

function meterLine(levels) {
  const level = key => levels[key].toFixed(2).padStart(6);
  const pair = side => `${level(`${side}_left`)} ${level(`${side}_right`)}`;
  return `meters  pgm ${pair('pgm')}  phones ${pair('phones')}  crm ${pair('crm')}`;
}

async function run({ url, password, module, seconds }) {
  const socket = new WebSocket(url);
  // Listening from the start: the password challenge comes with the connection.
  const client = new KorvelClient(socket);
  try {
    await once(socket, 'open');
  } catch (error) {
    throw new ClientError(`cannot connect to ${url}: ${error.message}`);
  }
  try {
    console.log('connected to', url);
    if (password !== undefined) await authenticate(client, password);

    // Right after the console is plugged in the application is still reading its state; a snapshot taken then
    // would leave keys out.
    if (!(await client.request('get_state_complete'))) {
      console.log("waiting for the console's state");
      await withTimeout(client.nextNotification('on_state_complete'), replyTimeoutMs,
        "the console's state did not become complete");
    }

    const state = await client.request('get_all', undefined, { quiet: true });
    console.log(`<- all, ${Object.keys(state).length} keys:`);
    console.log(JSON.stringify(state, null, 2));

    const switched = await client.command('set_on', { [module]: 'toggle' }, 'on_on');
    console.log('notification:', JSON.stringify(switched));

    // A deliberate mistake: the error names the request it answers by its "id".
    try {
      await client.command('set_on', { mod9: 'on' }, 'on_on');
    } catch (error) {
      if (!(error instanceof Refused)) throw error;
      console.log('refused as expected:', error.message);
    }

    try {
      const interval = await client.request('set_metering_interval', meteringIntervalMs);
      console.log(`metering interval: ${interval} ms`);
    } catch (error) {
      if (!(error instanceof NoAnswer)) throw error;
      console.log("no answer to set_metering_interval: this application sends the meters at the console's rate");
    }

    // The first meter message is the sign that the subscription was accepted.
    const deadline = Date.now() + seconds * 1000;
    let meters = await client.command('subscribe', ['metering'], 'on_metering');
    let count = 0;
    while (meters) {
      console.log(meterLine(meters.data));
      count++;
      const next = client.nextNotification('on_metering');
      meters = await withTimeout(next, Math.max(deadline - Date.now(), 0), '', () => client.cancelWaiter(next))
        .catch(error => { if (error instanceof NoAnswer) return null; throw error; });
    }
    console.log(`${count} meter messages in ${seconds} s`);
  } finally {
    socket.close();
  }
}

const { values, positionals } = parseArgs({
  allowPositionals: true,
  options: {
    password: { type: 'string' },
    module: { type: 'string', default: 'mod1' },
    seconds: { type: 'string', default: '5' },
  },
});
const url = positionals[0] ?? defaultUrl;
const seconds = Number(values.seconds);
try {
  if (!(seconds >= 0)) throw new ClientError(`--seconds: not a number of seconds: ${values.seconds}`);
  await run({ url, password: values.password, module: values.module, seconds });
} catch (error) {
  if (error instanceof Refused && error.message === 'Device USB not connected!')
    console.error('Korvel Control answers, but its console is not connected');
  else if (error instanceof Refused && error.message === 'authentication required')
    console.error('Korvel Control asks for a password: give it with --password');
  else if (error instanceof Refused) console.error(`refused: ${error.message}`);
  else if (error instanceof ClientError) console.error(error.message);
  else console.error(error);
  process.exitCode = 1;
}
