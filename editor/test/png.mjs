// Width and height of a PNG, after checking that it is one.
export function pngSize(bytes) {
  const signature = [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a];
  if (bytes.length < 24 || signature.some((b, i) => bytes[i] !== b)) throw new Error('not a PNG');
  if (bytes.toString('latin1', 12, 16) !== 'IHDR') throw new Error('PNG without IHDR');
  return { width: bytes.readUInt32BE(16), height: bytes.readUInt32BE(20) };
}
