// Types of the quodrel module (quodrel.mjs).

export declare const EVENT: Readonly<{
  BEGIN: 1; PROGRESS: 2; ENTRY: 3; REFUSED: 4; FAILED: 5; END: 6; DIFFERENCE: 7;
}>;

export declare const ERROR: Readonly<{
  OK: 0; ARGUMENT: 1; OPEN: 2; TABLE_CUT_SHORT: 3; BAD_NAME_LENGTH: 4; TOO_DEEP: 5;
  NO_MEMORY: 6; NOT_FOUND: 7; NOT_A_FILE: 8; REFUSED: 9; READ: 10; INCOMPLETE: 11;
  CANCELLED: 12; DESTINATION: 13; CREATE: 14; WRITE: 15; CHANGED: 16; LIMIT: 17;
  NOT_AN_ARCHIVE: 18;
}>;

/** A call of the library that failed: `code` is its error, `text` the events' words. */
export declare class QuodrelError extends Error {
  readonly code: number;
  readonly text: string;
}

/** What an operation tells as it goes; `text` is in the quodrel program's words. */
export interface QuodrelEvent {
  kind: number;
  index: number; // -1 when the event is about no entry
  path: string;
  bytes: number;
  refusal: number;
  error: number;
  entriesDone: number;
  entriesTotal: number;
  bytesDone: number;
  bytesTotal: number;
  text: string;
}

/** Returning true cancels the operation. */
export type OnEvent = (event: QuodrelEvent) => boolean | void;

/** Bytes given on request, synchronously: at most `length` from `offset`. */
export interface Reader {
  size: number;
  read(offset: number, length: number): Uint8Array;
}

export interface Entry {
  index: number;
  path: string;
  size: number;
  folder: boolean;
  refusal: number; // 0 when extraction writes it
  refusalText: string;
}

export interface OpenOptions {
  name?: string;
  requireMagic?: boolean;
}

export declare class Archive {
  readonly name: string;
  readonly hasMagic: boolean;
  readonly entries: Entry[];
  find(path: string): number;
  read(pathOrIndex: string | number): Uint8Array;
  check(options?: { onEvent?: OnEvent }): {
    ok: boolean;
    refused: { path: string; refusal: number }[];
    text: string;
  };
  close(): void;
}

export type ListedEntry =
  | { path: string; folder: true }
  | { path: string; folder?: false; data: Uint8Array | ArrayBuffer | Reader | Blob };

export interface CreateOptions {
  name?: string;
  onEvent?: OnEvent | null;
  /** Takes the archive chunk by chunk, in order; `bytes` is then null. */
  onChunk?: ((chunk: Uint8Array) => void) | null;
}

export declare class Quodrel {
  readonly version: number;
  open(source: Uint8Array | ArrayBuffer | Reader, options?: OpenOptions): Archive;
  openBlob(blob: Blob, options?: OpenOptions): Promise<Archive>;
  openFile(file: string | number | { fd: number }, options?: OpenOptions): Promise<Archive>;
  create(entries: ListedEntry[], options?: CreateOptions): {
    bytes: Uint8Array | null;
    complete: boolean;
    text: string;
  };
  /** As create, where Blobs that no FileReaderSync reads are read whole first. */
  createAsync(entries: ListedEntry[], options?: CreateOptions): Promise<{
    bytes: Uint8Array | null;
    complete: boolean;
    text: string;
  }>;
  errorText(code: number): string;
  refusalText(refusal: number): string;
}

export declare function load(
  source?: WebAssembly.Module | BufferSource | Response | URL | string,
): Promise<Quodrel>;
