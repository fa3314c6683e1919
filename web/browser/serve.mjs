// A static HTTP server on 127.0.0.1 for the browser tests and the bench: the page is
// served as any static host would serve it (the origin private file system, which
// stands in for a folder the user picks, needs a real origin; file: has none).
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';

const types = {
  '.html': 'text/html; charset=utf-8', '.mjs': 'text/javascript', '.js': 'text/javascript',
  '.wasm': 'application/wasm', '.json': 'application/json',
};

// Serves each URL prefix of `roots` ({ '/': folder, '/tree/': folder }) from its
// folder; gives { url, close }.
export async function serve(roots) {
  const prefixes = Object.keys(roots).sort((a, b) => b.length - a.length);
  const server = http.createServer((request, response) => {
    const url = decodeURIComponent(new URL(request.url, 'http://host').pathname);
    const prefix = prefixes.find((p) => url.startsWith(p));
    const file = prefix && path.join(roots[prefix], url.slice(prefix.length) || 'index.html');
    if (!file || !file.startsWith(roots[prefix]) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {
      'content-type': types[path.extname(file)] ?? 'application/octet-stream',
      'cache-control': 'no-store',
    });
    fs.createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/`,
    close: () => new Promise((resolve) => { server.closeAllConnections(); server.close(resolve); }),
  };
}
