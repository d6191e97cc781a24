// Files in and out of the page: text and bytes across the boundary to the program's memory,
// PNG files packed with the browser's own deflate before they are downloaded, downloads, and
// files the user picks or drops.

// A string in the program's memory (UTF-8), for one call: free it with core._free.
export function cString(core, text) {
  const size = core.lengthBytesUTF8(text) + 1;
  const pointer = core._malloc(size);
  core.stringToUTF8(text, pointer, size);
  return pointer;
}

// Calls fn with the strings in the program's memory and frees them afterwards.
export function withStrings(core, texts, fn) {
  const pointers = texts.map((text) => cString(core, text));
  try {
    return fn(...pointers);
  } finally {
    pointers.forEach((pointer) => core._free(pointer));
  }
}

// Text the program allocated for the page: read once and freed.
export function takeText(core, pointer) {
  const text = core.UTF8ToString(pointer);
  core._free(pointer);
  return text;
}

const crcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes) {
  let c = 0xffffffff;
  for (let i = 0; i < bytes.length; i++) c = crcTable[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

async function throughStream(bytes, stream) {
  const response = new Response(new Blob([bytes]).stream().pipeThrough(stream));
  return new Uint8Array(await response.arrayBuffer());
}

// A PNG's chunks: [{type, data}], or null when the bytes are no PNG.
export function pngChunks(bytes) {
  const signature = [137, 80, 78, 71, 13, 10, 26, 10];
  if (bytes.length < 8 || signature.some((b, i) => bytes[i] !== b)) return null;
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const chunks = [];
  for (let at = 8; at + 12 <= bytes.length; ) {
    const length = view.getUint32(at);
    if (at + 12 + length > bytes.length) return null;
    const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
    chunks.push({ type, data: bytes.subarray(at + 8, at + 8 + length) });
    at += 12 + length;
    if (type === "IEND") return chunks;
  }
  return null;
}

function chunkBytes(type, data) {
  const out = new Uint8Array(12 + data.length);
  const view = new DataView(out.buffer);
  view.setUint32(0, data.length);
  for (let i = 0; i < 4; i++) out[4 + i] = type.charCodeAt(i);
  out.set(data, 8);
  view.setUint32(8 + data.length, crc32(out.subarray(4, 8 + data.length)));
  return out;
}

// The program writes a PNG's image data in stored (uncompressed) blocks; the browser's deflate
// packs it for the download. The pixels stay exactly as they are; the bytes that are not image
// data too. A PNG that cannot be packed is handed back as it is.
export async function packPng(bytes) {
  const chunks = pngChunks(bytes);
  if (!chunks || typeof CompressionStream !== "function") return bytes;
  try {
    const idat = chunks.filter((c) => c.type === "IDAT");
    const stream = new Uint8Array(idat.reduce((n, c) => n + c.data.length, 0));
    let at = 0;
    for (const c of idat) {
      stream.set(c.data, at);
      at += c.data.length;
    }
    const raw = await throughStream(stream, new DecompressionStream("deflate"));
    const packed = await throughStream(raw, new CompressionStream("deflate"));
    const parts = [bytes.subarray(0, 8)];
    let written = false;
    for (const c of chunks) {
      if (c.type !== "IDAT") {
        parts.push(chunkBytes(c.type, c.data));
      } else if (!written) {
        for (let from = 0; from < packed.length || from === 0; from += 1 << 20)
          parts.push(chunkBytes("IDAT", packed.subarray(from, Math.min(packed.length, from + (1 << 20)))));
        written = true;
      }
    }
    return new Uint8Array(await new Blob(parts).arrayBuffer());
  } catch {
    return bytes;
  }
}

const types = { png: "image/png", npy: "application/octet-stream", ini: "text/plain", json: "application/json" };

// Offers bytes as a download under a name. Whoever sets page.downloads (an array) receives
// them there instead: the tests do.
export function download(page, name, bytes) {
  if (Array.isArray(page.downloads)) {
    page.downloads.push({ name, bytes });
    return;
  }
  const extension = name.slice(name.lastIndexOf(".") + 1).toLowerCase();
  const url = URL.createObjectURL(new Blob([bytes], { type: types[extension] || "application/octet-stream" }));
  const link = document.createElement("a");
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// Lets the user pick files (a button) or drop them on an element; onFiles receives File objects.
export function acceptFiles(element, picker, onFiles) {
  picker.addEventListener("change", () => {
    onFiles([...picker.files]);
    picker.value = "";
  });
  element.addEventListener("dragover", (event) => {
    if ([...event.dataTransfer.types].includes("Files")) {
      event.preventDefault();
      element.classList.add("dropping");
    }
  });
  element.addEventListener("dragleave", () => element.classList.remove("dropping"));
  element.addEventListener("drop", (event) => {
    element.classList.remove("dropping");
    if (!event.dataTransfer || event.dataTransfer.files.length === 0) return;
    event.preventDefault();
    onFiles([...event.dataTransfer.files]);
  });
}
