// A minimal DevTools-protocol client for headless Chromium, over the pipe Chromium
// opens with --remote-debugging-pipe (it reads commands on its fd 3 and writes replies
// and events on its fd 4, each a JSON message ended by a NUL). Written here rather than
// taken from a package: the project installs only Debian's packages, and the tests need
// a handful of commands (a page target, navigation, evaluation, screenshots, file
// inputs), not a browser-automation framework.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

// Where Chromium is: CHROMIUM, else Debian's.
export function chromiumPath() {
  for (const candidate of [process.env.CHROMIUM, '/usr/bin/chromium', '/usr/bin/chromium-browser'])
    if (candidate && fs.existsSync(candidate)) return candidate;
  return null;
}

export class Browser {
  // Starts headless Chromium with a profile and a HOME of its own in a temporary
  // folder (removed by close), so nothing is left in the user's HOME.
  static async launch({ executable = chromiumPath(), args = [] } = {}) {
    const home = fs.mkdtempSync(path.join(os.tmpdir(), 'quodrel-chromium-'));
    const flags = [
      '--headless', '--remote-debugging-pipe', `--user-data-dir=${path.join(home, 'profile')}`,
      '--no-first-run', '--no-default-browser-check', '--disable-gpu', '--disable-extensions',
      '--disable-dev-shm-usage', '--mute-audio', '--window-size=1000,1200', ...args,
    ];
    // Chromium refuses to run as root with its sandbox on.
    if (process.getuid?.() === 0) flags.push('--no-sandbox');
    const env = {
      ...process.env, HOME: home, XDG_CONFIG_HOME: path.join(home, 'config'),
      XDG_CACHE_HOME: path.join(home, 'cache'),
    };
    const child = spawn(executable, [...flags, 'about:blank'], {
      env, stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'],
    });
    const browser = new Browser(child, home);
    await browser.send('Target.setDiscoverTargets', { discover: true });
    return browser;
  }

  constructor(child, home) {
    this.child = child;
    this.home = home;
    this.nextId = 1;
    this.pending = new Map(); // id -> { resolve, reject, method }
    this.listeners = new Set(); // (message) => void, for events
    this.stderr = '';
    this.exited = false;
    let buffered = Buffer.alloc(0);
    child.stdio[4].on('data', (data) => {
      buffered = Buffer.concat([buffered, data]);
      let end;
      while ((end = buffered.indexOf(0)) >= 0) {
        const message = JSON.parse(buffered.subarray(0, end).toString('utf8'));
        buffered = buffered.subarray(end + 1);
        this.dispatch(message);
      }
    });
    child.stderr.on('data', (data) => { this.stderr = (this.stderr + data).slice(-4000); });
    child.on('exit', () => {
      this.exited = true;
      for (const { reject, method } of this.pending.values())
        reject(new Error(`${method}: Chromium exited\n${this.stderr}`));
      this.pending.clear();
    });
  }

  dispatch(message) {
    if (message.id !== undefined && this.pending.has(message.id)) {
      const { resolve, reject, method } = this.pending.get(message.id);
      this.pending.delete(message.id);
      if (message.error) reject(new Error(`${method}: ${message.error.message}`));
      else resolve(message.result);
      return;
    }
    for (const listener of this.listeners) listener(message);
  }

  // Sends a command (to a page's session where `sessionId` is given) and gives its result.
  send(method, params = {}, sessionId = undefined) {
    if (this.exited) return Promise.reject(new Error(`${method}: Chromium exited\n${this.stderr}`));
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject, method });
      this.child.stdio[3].write(`${JSON.stringify(message)}\0`);
    });
  }

  // The next event named `method` (of `sessionId`) that `accept` takes.
  waitFor(method, sessionId, accept = () => true, timeout = 30000) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.listeners.delete(listener);
        reject(new Error(`no ${method} within ${timeout} ms`));
      }, timeout);
      const listener = (message) => {
        if (message.method !== method || message.sessionId !== sessionId) return;
        if (!accept(message.params)) return;
        clearTimeout(timer);
        this.listeners.delete(listener);
        resolve(message.params);
      };
      this.listeners.add(listener);
    });
  }

  // A new tab, attached with a flat session.
  async newPage() {
    const { targetId } = await this.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
    const page = new Page(this, sessionId, targetId);
    await Promise.all(['Page.enable', 'Runtime.enable', 'DOM.enable'].map((m) => page.send(m)));
    return page;
  }

  async close() {
    if (!this.exited) {
      const exited = new Promise((resolve) => this.child.once('exit', resolve));
      this.send('Browser.close').catch(() => {});
      const timer = setTimeout(() => this.child.kill('SIGKILL'), 5000);
      await exited;
      clearTimeout(timer);
    }
    fs.rmSync(this.home, { recursive: true, force: true });
  }
}

export class Page {
  constructor(browser, sessionId, targetId) {
    this.browser = browser;
    this.sessionId = sessionId;
    this.targetId = targetId;
    this.errors = []; // what the page threw or logged as an error
    browser.listeners.add((message) => {
      if (message.sessionId !== sessionId) return;
      if (message.method === 'Runtime.exceptionThrown')
        this.errors.push(message.params.exceptionDetails.exception?.description
          ?? message.params.exceptionDetails.text);
      if (message.method === 'Runtime.consoleAPICalled' && message.params.type === 'error')
        this.errors.push(message.params.args.map((a) => a.value ?? a.description).join(' '));
    });
  }

  send(method, params = {}) { return this.browser.send(method, params, this.sessionId); }

  // Opens `url` and waits for its load event.
  async goto(url) {
    const loaded = this.browser.waitFor('Page.loadEventFired', this.sessionId);
    const { errorText } = await this.send('Page.navigate', { url });
    if (errorText) throw new Error(`${url}: ${errorText}`);
    await loaded;
  }

  // The value of `expression` (awaited when it is a promise), as JSON gives it back.
  async evaluate(expression) {
    const { result, exceptionDetails } = await this.send('Runtime.evaluate', {
      expression, awaitPromise: true, returnByValue: true, userGesture: true,
    });
    if (exceptionDetails)
      throw new Error(exceptionDetails.exception?.description ?? exceptionDetails.text);
    return result.value;
  }

  // Evaluates `expression` until it is truthy; gives that value.
  async until(expression, timeout = 60000) {
    const end = Date.now() + timeout;
    for (;;) {
      const value = await this.evaluate(expression);
      if (value) return value;
      if (Date.now() > end) throw new Error(`still false after ${timeout} ms: ${expression}`);
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
  }

  // Presses a key (Enter, Tab, ' ') where the focus is, as a keyboard would.
  async press(key) {
    const codes = { Enter: [13, 'Enter', '\r'], Tab: [9, 'Tab', ''], ' ': [32, 'Space', ' '] };
    const [keyCode, code, text] = codes[key];
    const common = { key, code, windowsVirtualKeyCode: keyCode, nativeVirtualKeyCode: keyCode };
    await this.send('Input.dispatchKeyEvent', { type: 'keyDown', ...common, text });
    await this.send('Input.dispatchKeyEvent', { type: 'keyUp', ...common });
  }

  // Gives the files (paths on this machine) to the file input `selector` chooses.
  async setFiles(selector, files) {
    const { root } = await this.send('DOM.getDocument', { depth: 0 });
    const { nodeId } = await this.send('DOM.querySelector', { nodeId: root.nodeId, selector });
    if (!nodeId) throw new Error(`no ${selector}`);
    await this.send('DOM.setFileInputFiles', { nodeId, files });
  }

  // Drags the files (paths on this machine) onto the middle of what `selector` finds and
  // drops them there. (Chromium gives a page a dropped folder's entry this way, but
  // not its listing: folders are dropped only by hand.)
  async dropFiles(selector, files) {
    const { x, y } = await this.evaluate(`(() => {
      const box = document.querySelector(${JSON.stringify(selector)}).getBoundingClientRect();
      return { x: box.left + box.width / 2, y: box.top + box.height / 2 };
    })()`);
    const data = { items: [], files, dragOperationsMask: 1 };
    for (const type of ['dragEnter', 'dragOver', 'drop'])
      await this.send('Input.dispatchDragEvent', { type, x, y, data });
  }

  // A PNG of the page as it is laid out at `width` CSS pixels, written to `file`.
  async screenshot(file, { width = 1000, height = 1200, mobile = false } = {}) {
    await this.send('Emulation.setDeviceMetricsOverride', {
      width, height, deviceScaleFactor: 1, mobile,
    });
    const { data } = await this.send('Page.captureScreenshot', {
      format: 'png', captureBeyondViewport: true,
    });
    fs.mkdirSync(path.dirname(file), { recursive: true });
    fs.writeFileSync(file, Buffer.from(data, 'base64'));
  }
}
