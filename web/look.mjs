// How the page shows a file's first bytes: as text (UTF-8), as an image (by its first
// bytes: PNG, JPEG, GIF, WebP, BMP) or as hex. No other type is ever given to the
// browser to show: an HTML or SVG file is text here, never a document (a blob: address
// has the page's origin, so a document there could act as the page). And how a name is
// shown: as the program prints it, no character in it reordering or hiding the rest.

const IMAGES = [
  ['image/png', [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]],
  ['image/jpeg', [0xff, 0xd8, 0xff]],
  ['image/gif', [0x47, 0x49, 0x46, 0x38]],
];
// A BMP's "BM" is two letters many a text starts with: the size of the header after
// the file's own (at 14) must be one a BMP has too.
const BMP_HEADERS = new Set([12, 16, 40, 52, 56, 64, 108, 124]);

// The image type the bytes start as, or ''.
export function imageType(bytes) {
  for (const [type, magic] of IMAGES) if (magic.every((b, i) => bytes[i] === b)) return type;
  const ascii = (at, text) => [...text].every((c, i) => bytes[at + i] === c.charCodeAt(0));
  if (ascii(0, 'RIFF') && ascii(8, 'WEBP')) return 'image/webp';
  if (ascii(0, 'BM') && bytes.length >= 18
    && BMP_HEADERS.has(bytes[14] | (bytes[15] << 8) | (bytes[16] << 16) | (bytes[17] << 24))) return 'image/bmp';
  return '';
}

// The bytes as text when they are UTF-8 without NUL (a character cut at their end, as
// a file's first bytes may cut one, is left out), else null.
export function asText(bytes) {
  if (bytes.includes(0)) return null;
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(bytes, { stream: true });
  } catch {
    return null;
  }
}

// Lines of 16 bytes: the offset, the bytes in hex, and those that are printable ASCII.
export function hex(bytes) {
  const lines = [];
  for (let at = 0; at < bytes.length; at += 16) {
    const row = bytes.subarray(at, at + 16);
    const codes = [...row].map((b) => b.toString(16).padStart(2, '0')).join(' ');
    const chars = [...row].map((b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '.')).join('');
    lines.push(`${at.toString(16).padStart(8, '0')}  ${codes.padEnd(47)}  ${chars}`);
  }
  return lines.join('\n');
}

// The characters a name is shown escaped for: the controls the quodrel program escapes
// (0x01-0x1F, 0x7F, U+0080-U+009F), and the bidirectional formatting characters, which
// shown as they are reorder the text around them ("evil\u202Etxt.exe" reads
// "evilexe.txt").
const UNPRINTED = /[\u0001-\u001F\u007F-\u009F\u061C\u200E\u200F\u202A-\u202E\u2066-\u2069]/gu;
const encoder = new TextEncoder();

// A name or path (or words holding them) as the page shows it: as the quodrel program
// prints it, "\t", "\n" or "\r", or a backslash and three octal digits for each
// byte of the character in UTF-8; the bidirectional formatting characters the same way.
export function printable(text) {
  return text.replace(UNPRINTED, (c) => {
    if (c === '\t') return '\\t';
    if (c === '\n') return '\\n';
    if (c === '\r') return '\\r';
    return [...encoder.encode(c)].map((b) => `\\${b.toString(8).padStart(3, '0')}`).join('');
  });
}
