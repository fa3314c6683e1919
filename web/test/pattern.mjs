// Bytes that differ from place to place, so a misplaced piece shows: the same for the
// module's tests and the page's, seeded.
export function pattern(size, seed) {
  const bytes = new Uint8Array(size);
  let x = seed >>> 0;
  for (let i = 0; i < size; ++i) {
    x = (Math.imul(x, 1103515245) + 12345) >>> 0;
    bytes[i] = x >>> 24;
  }
  return bytes;
}
