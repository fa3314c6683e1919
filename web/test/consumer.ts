// A strict TypeScript project's use of the module (compiled by web/check.sh, never
// run): what it may write compiles, what it must not is refused (@ts-expect-error
// fails the compile where no error is found).
import { load, ERROR, EVENT, QuodrelError, type Entry } from 'quodrel';

const quodrel = await load();
{
  using archive = quodrel.open(new Uint8Array(0), { requireMagic: true });
  const entries: Entry[] = archive.entries;
  const head: Uint8Array = archive.read(0, { offset: 1, length: 2 });
  const copied = quodrel.create([{ path: 'a', data: archive.reader('a') }, { path: 'b', folder: true }]);
  const locked: 22 = ERROR.LOCKED;
  const verdict: boolean = archive.check({ onEvent: (e) => e.kind === EVENT.FAILED }).ok;
  void entries, head, copied, locked, verdict;
  // @ts-expect-error: a range is numbers
  archive.read(0, { offset: '1' });
  // @ts-expect-error: a folder has no data
  quodrel.create([{ path: 'b', folder: true, data: new Uint8Array(1) }]);
  // @ts-expect-error: the bytes or a reader, not a path
  quodrel.open('maps.dat');
}
export async function opened(path: string): Promise<number | string> {
  try {
    return (await quodrel.openFile(path)).entries.length;
  } catch (error) {
    if (error instanceof QuodrelError) return `${error.code}: ${error.text}`;
    throw error;
  }
}
