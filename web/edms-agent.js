// The page side of the agent's local command service.
//
//   import { connect } from './edms-agent.js';
//   const agent = await connect();              // rejects with AgentUnavailableError
//   await agent.login('alice');                 // "Welcome alice"
//   await agent.checkUser();                    // "SUCCESS" or the session user's id
//   for await (const word of agent.checkOut(doc)) show(word);   // both replies of a cycle
//   agent.close();
//
// Every message either way is one JSON text {"arg1": ..., "arg2": ...}. The agent answers
// only CHECK_USER and CHECKOUT; the other commands are fire-and-forget.

export const DEFAULT_URL = 'ws://127.0.0.1:23232';
export const FIELD_SEPARATOR = '^';
export const DOWNLOAD_ITEM_SEPARATOR = '*';

// Replies that end a check-out cycle; CHECKOUT_SUCCESS is followed by one of the last five.
export const CHECKOUT_FIRST_REPLIES = ['CHECKOUT_SUCCESS', 'CHECKOUT_FAIL'];
export const CHECKOUT_FINAL_REPLIES = [
  'CHECKOUT_FAIL', 'EDIT_FAIL', 'CHECKIN_SUCCESS', 'CHECKIN_FAIL', 'CANCEL_SUCCESS', 'CANCEL_FAIL',
];

// The connection could not be opened: no agent listens, or it refused this page.
export class AgentUnavailableError extends Error {
  constructor(url, detail) {
    super(`No agent is running on this computer (nothing answered at ${url}${detail ? `: ${detail}` : ''}). ` +
          'Start Pellarin and try again.');
    this.name = 'AgentUnavailableError';
    this.url = url;
  }
}

// The connection went away while a reply was awaited.
export class AgentClosedError extends Error {
  constructor() {
    super('The connection to the agent was closed.');
    this.name = 'AgentClosedError';
  }
}

export class AgentTimeoutError extends Error {
  constructor(what, ms) {
    super(`The agent did not answer ${what} within ${ms} ms.`);
    this.name = 'AgentTimeoutError';
  }
}

// Opens the connection. `WebSocket` may be given (tests, or an environment without a global one).
export function connect({ url = DEFAULT_URL, timeoutMs = 5000, WebSocket: Socket = globalThis.WebSocket } = {}) {
  if (typeof Socket !== 'function') {
    return Promise.reject(new Error('This environment has no WebSocket client.'));
  }
  return new Promise((resolve, reject) => {
    let socket;
    try {
      socket = new Socket(url);
    } catch (e) {
      reject(new AgentUnavailableError(url, e && e.message));
      return;
    }
    let settled = false;
    const finish = (fn, value) => {
      if (settled) return;
      settled = true;
      clearTimeout(timer);
      socket.onopen = socket.onerror = null;
      fn(value);
    };
    const timer = setTimeout(() => {
      finish(reject, new AgentUnavailableError(url, `no answer within ${timeoutMs} ms`));
      try { socket.close(); } catch (_) { /* already gone */ }
    }, timeoutMs);
    socket.onopen = () => finish(resolve, new AgentConnection(socket));
    socket.onerror = () => finish(reject, new AgentUnavailableError(url));
    socket.onclose = () => finish(reject, new AgentUnavailableError(url));
  });
}

// Splits nothing and escapes nothing: a field that holds the separator would shift every
// field after it on the agent's side, so it is refused here.
export function joinFields(fields, separator = FIELD_SEPARATOR) {
  return fields.map((f) => {
    const text = f === undefined || f === null ? '' : String(f);
    if (text.includes(separator)) throw new TypeError(`A field may not contain "${separator}": ${text}`);
    return text;
  }).join(separator);
}

function flag(value) {
  if (typeof value === 'boolean') return value ? 'TRUE' : 'FALSE';
  return value === undefined || value === null ? '' : String(value);
}

export class AgentConnection {
  constructor(socket) {
    this._socket = socket;
    this._closed = false;
    this._listeners = new Set();
    this._closeListeners = new Set();
    this._loginWaiters = [];       // resolve the "Welcome" answer
    this._checkUserWaiters = [];   // FIFO: the agent answers CHECK_USER in order on one connection
    this._cycles = [];             // check-out cycles still expecting a reply, oldest first
    socket.onmessage = (event) => this._onMessage(event.data);
    socket.onclose = () => this._onClose();
    socket.onerror = () => {};
  }

  get closed() { return this._closed; }

  // Every reply as {arg1, arg2}; returns a function that removes the listener.
  onReply(listener) {
    this._listeners.add(listener);
    return () => this._listeners.delete(listener);
  }

  // Called once when the connection closes, whichever side closed it; returns a function that
  // removes the listener.
  onClose(listener) {
    this._closeListeners.add(listener);
    return () => this._closeListeners.delete(listener);
  }

  // The first data message logs the connection in under `userKey`; resolves with the
  // agent's answer ("Welcome " + userKey).
  login(userKey, { timeoutMs = 10000 } = {}) {
    return this._await(this._loginWaiters, 'the login', timeoutMs, () => this._post(String(userKey), ''));
  }

  // Sends one command; `fields` are joined with "^". No reply is awaited.
  send(command, ...fields) {
    this._post(String(command), joinFields(fields));
  }

  // Resolves with "SUCCESS" when the session user is the logged-in user, else the session user.
  checkUser({ timeoutMs = 30000 } = {}) {
    return this._await(this._checkUserWaiters, 'CHECK_USER', timeoutMs, () => this.send('CHECK_USER'))
      .then((reply) => reply.arg2);
  }

  // Starts a check-out cycle. The result is an async iterable of the reply words of this
  // cycle, first CHECKOUT_SUCCESS or CHECKOUT_FAIL, then (after success) the outcome of the
  // edit; it ends after the last one. `done` resolves with all words of the cycle.
  // The agent's replies name no document: concurrent cycles on one connection are matched
  // to their replies in the order they were started.
  checkOut({ documentId, pageId, fileName, version, isCurrent = true, creator = '', isImmutable = false }) {
    const cycle = { words: [], queue: [], waiters: [], ended: false, error: null };
    cycle.done = new Promise((resolve, reject) => { cycle.resolveDone = resolve; cycle.rejectDone = reject; });
    cycle.done.catch(() => {});  // observed through the iterator when not through `done`
    this.send('CHECKOUT', documentId, pageId, fileName, version, flag(isCurrent), creator, flag(isImmutable));
    this._cycles.push(cycle);
    const iterator = {
      next: () => {
        if (cycle.queue.length) return Promise.resolve({ value: cycle.queue.shift(), done: false });
        if (cycle.error) return Promise.reject(cycle.error);
        if (cycle.ended) return Promise.resolve({ value: undefined, done: true });
        return new Promise((resolve, reject) => cycle.waiters.push({ resolve, reject }));
      },
      [Symbol.asyncIterator]() { return this; },
    };
    iterator.done = cycle.done;
    return iterator;
  }

  view({ documentId, pageId, fileName }) {
    this.send('VIEW', documentId, pageId, fileName);
  }

  // Queues one file for the next DO_DOWNLOAD; the item's own fields are joined with "*".
  addToDownload({ documentId, pageId, fileName }) {
    this.send('ADD_TO_DOWNLOAD', joinFields([documentId, pageId, fileName], DOWNLOAD_ITEM_SEPARATOR));
  }

  doDownload() { this.send('DO_DOWNLOAD'); }

  clearDownload() { this.send('CLEAR_DOWNLOAD'); }

  close() {
    if (!this._closed) {
      try { this._socket.close(); } catch (_) { /* already gone */ }
    }
    this._onClose();
  }

  _post(arg1, arg2) {
    if (this._closed) throw new AgentClosedError();
    this._socket.send(JSON.stringify({ arg1, arg2 }));
  }

  _await(waiters, what, timeoutMs, sendIt) {
    return new Promise((resolve, reject) => {
      const waiter = { resolve, reject };
      // A timed-out request keeps its place: the agent answers in order, so its late answer
      // must be swallowed rather than handed to the request after it.
      waiter.timer = setTimeout(() => {
        waiter.timedOut = true;
        reject(new AgentTimeoutError(what, timeoutMs));
      }, timeoutMs);
      waiters.push(waiter);
      try {
        sendIt();
      } catch (e) {
        clearTimeout(waiter.timer);
        waiters.splice(waiters.indexOf(waiter), 1);
        reject(e);
      }
    });
  }

  _onMessage(data) {
    let reply;
    try {
      reply = JSON.parse(data);
    } catch (_) {
      return;  // not a data message
    }
    if (!reply || typeof reply.arg1 !== 'string') return;
    reply = { arg1: reply.arg1, arg2: typeof reply.arg2 === 'string' ? reply.arg2 : '' };
    for (const listener of this._listeners) {
      try { listener(reply); } catch (_) { /* a listener's fault is its own */ }
    }
    if (reply.arg1.startsWith('Welcome ')) {
      this._settle(this._loginWaiters, reply.arg1);
    } else if (reply.arg1 === 'CHECK_USER') {
      this._settle(this._checkUserWaiters, reply);
    } else if (reply.arg1 === 'CHECKOUT') {
      this._onCheckOutReply(reply.arg2);
    }
  }

  _settle(waiters, value) {
    const waiter = waiters.shift();
    if (!waiter || waiter.timedOut) return;
    clearTimeout(waiter.timer);
    waiter.resolve(value);
  }

  // A first reply belongs to the oldest cycle that has had none; a second to the oldest that
  // has had its CHECKOUT_SUCCESS.
  _onCheckOutReply(word) {
    const isFirst = CHECKOUT_FIRST_REPLIES.includes(word);
    const cycle = this._cycles.find((c) => (c.words.length === 0) === isFirst);
    if (!cycle) return;
    cycle.words.push(word);
    const last = word === 'CHECKOUT_FAIL' || (!isFirst && CHECKOUT_FINAL_REPLIES.includes(word));
    const waiter = cycle.waiters.shift();
    if (waiter) waiter.resolve({ value: word, done: false });
    else cycle.queue.push(word);
    if (last) this._endCycle(cycle, null);
  }

  _endCycle(cycle, error) {
    const i = this._cycles.indexOf(cycle);
    if (i >= 0) this._cycles.splice(i, 1);
    cycle.ended = true;
    cycle.error = error;
    for (const waiter of cycle.waiters.splice(0)) {
      if (error) waiter.reject(error);
      else waiter.resolve({ value: undefined, done: true });
    }
    if (error) cycle.rejectDone(error);
    else cycle.resolveDone(cycle.words.slice());
  }

  _onClose() {
    if (this._closed) return;
    this._closed = true;
    const error = new AgentClosedError();
    for (const waiters of [this._loginWaiters, this._checkUserWaiters]) {
      for (const waiter of waiters.splice(0)) {
        clearTimeout(waiter.timer);
        waiter.reject(error);
      }
    }
    for (const cycle of this._cycles.slice()) this._endCycle(cycle, error);
    for (const listener of this._closeListeners) {
      try { listener(); } catch (_) { /* a listener's fault is its own */ }
    }
  }
}
