#pragma once
// The plain tree walks of the GPF/DPF Huffman coder, one bit at a time. They define what the
// table-driven CHuffmanTree::Encode and CHuffmanTree::Decode must produce bit for bit; the tests
// compare the two and the benchmarks time them side by side.

#include <cstdint>

class CHuffmanTree;

/// Encodes length bytes of source with tree: for each byte climbs from its leaf to the root,
/// noting 0 for a child 0 and 1 for a child 1, then writes the noted bits root first, each bit
/// replacing only its own position (least significant bit of a byte first). Returns the number
/// of bytes written, a partly filled last byte included. Same contract as CHuffmanTree::Encode.
std::uint32_t HuffmanEncodeReference(const CHuffmanTree& tree, const std::uint8_t* source, std::uint32_t length,
                                     std::uint8_t* destination);

/// Decodes count bytes with tree: for each, descends from the root reading one bit at a time
/// until a leaf. Stops at the end of the sourceLength compressed bytes; returns the number of
/// bytes completely decoded and sets *exhausted (when not null) if that is less than count.
/// Same contract as CHuffmanTree::Decode.
std::uint32_t HuffmanDecodeReference(const CHuffmanTree& tree, const std::uint8_t* source, std::uint32_t sourceLength,
                                     std::uint32_t count, std::uint8_t* destination, bool* exhausted = nullptr);
