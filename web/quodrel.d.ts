// Types of the quodrel module (quodrel.mjs). They name no type of the DOM's or
// Node's, so a project of either kind compiles against them as they are.

declare global {
  interface SymbolConstructor {
    /** What `using` calls (TypeScript 5.2 and newer; Node has it from 18.18 on). */
    readonly dispose: unique symbol;
  }
}

/** A Blob or File, as far as the module uses one. */
export interface BlobLike {
  readonly size: number;
  readonly name?: string;
  slice(start?: number, end?: number): BlobLike;
  arrayBuffer(): Promise<ArrayBuffer>;
}

export declare const EVENT: Readonly<{
  BEGIN: 1; PROGRESS: 2; ENTRY: 3; REFUSED: 4; FAILED: 5; END: 6; DIFFERENCE: 7; COMMIT: 8;
}>;

export declare const ERROR: Readonly<{
  OK: 0; ARGUMENT: 1; OPEN: 2; TABLE_CUT_SHORT: 3; BAD_NAME_LENGTH: 4; TOO_DEEP: 5;
  NO_MEMORY: 6; NOT_FOUND: 7; NOT_A_FILE: 8; REFUSED: 9; READ: 10; INCOMPLETE: 11;
  CANCELLED: 12; DESTINATION: 13; CREATE: 14; WRITE: 15; CHANGED: 16; LIMIT: 17;
  NOT_AN_ARCHIVE: 18; DESCRIPTORS: 19; DIFFERENT: 20; NOT_UPDATED: 21; LOCKED: 22; REPLACED: 23;
}>;

/** A call of the library that failed: `code` is its error, `text` the events' words. */
export declare class QuodrelError extends Error {
  constructor(code: number, message: string, text?: string);
  readonly code: number;
  /** The program's words for it, where it has any ("ERROR! ..."). */
  readonly text: string;
}

/** What an operation tells as it goes; `text` is in the quodrel program's words. A
 * later library may tell kinds that EVENT does not name: they come as their numbers. */
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

/** Returning true cancels the operation; what it throws cancels it too, and is thrown
 * again after the call. */
export type OnEvent = (event: QuodrelEvent) => boolean | void;

/** Bytes given on request, synchronously: at most `length` from `offset` (anything
 * else is a failed read; what it throws ends the call and is thrown again after it).
 * `size` is a whole number of bytes. */
export interface Reader {
  size: number;
  read(offset: number, length: number): Uint8Array | ArrayBuffer;
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

/** An open archive. A call after close() throws; close() from a callback of a call on
 * it takes effect when that call returns; an archive never closed is closed when it is
 * collected. Paths are strings: a name stored as bytes that are not UTF-8 is listed
 * with U+FFFD in their place and cannot be found by it. */
export declare class Archive {
  readonly name: string;
  readonly hasMagic: boolean;
  readonly entries: Entry[];
  find(path: string): number;
  /** The file's bytes: all, or `length` from `offset` (as many as there are). */
  read(pathOrIndex: string | number, range?: { offset?: number; length?: number }): Uint8Array;
  /** The file's bytes as a Reader for create(), read while the archive is open. */
  reader(pathOrIndex: string | number): Reader;
  /** As quodrel -t: a file that is no archive (no magic) gives ok false and
   * "ERROR! Not an archive NAME". */
  check(options?: { onEvent?: OnEvent }): {
    ok: boolean;
    refused: { path: string; refusal: number }[];
    text: string;
  };
  close(): void;
  /** close(), for `using` (where the language has Symbol.dispose). */
  [Symbol.dispose](): void;
}

export type ListedEntry =
  | { path: string; folder: true }
  | { path: string; folder?: false; data: Uint8Array | ArrayBuffer | Reader | BlobLike };

export interface CreateOptions {
  name?: string;
  onEvent?: OnEvent | null;
  /** Takes the archive chunk by chunk, in order; `bytes` is then null. */
  onChunk?: ((chunk: Uint8Array) => void) | null;
}

/** One instance of the library, made by load(). */
export declare class Quodrel {
  /** `module` is a compiled WebAssembly.Module of quodrel.wasm. */
  constructor(module: object);
  readonly version: number;
  open(source: Uint8Array | ArrayBuffer | Reader, options?: OpenOptions): Archive;
  openBlob(blob: BlobLike, options?: OpenOptions): Promise<Archive>;
  openFile(file: string | number | { fd: number }, options?: OpenOptions): Promise<Archive>;
  create(entries: Iterable<ListedEntry>, options?: CreateOptions): {
    bytes: Uint8Array | null;
    complete: boolean;
    text: string;
  };
  /** As create, where Blobs that no FileReaderSync reads are read whole first. */
  createAsync(entries: Iterable<ListedEntry>, options?: CreateOptions): Promise<{
    bytes: Uint8Array | null;
    complete: boolean;
    text: string;
  }>;
  errorText(code: number): string;
  refusalText(refusal: number): string;
}

/** Loads quodrel.wasm: from beside the module by default, or from its bytes, a URL, a
 * fetch Response, or a compiled WebAssembly.Module. */
export declare function load(
  source?: ArrayBuffer | ArrayBufferView | { readonly href: string } | string | { arrayBuffer(): Promise<ArrayBuffer> } | object,
): Promise<Quodrel>;
