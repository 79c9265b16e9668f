#pragma once
// Decoding the single bitstream of a GPF/DPF payload, serially or in speculative blocks.

#include "formats/CHuffmanTree.h"

#include <cstdint>

/// The decoder behind CHuffmanTree::Decode, for one compressed stream.
///
/// A payload is one serial bitstream: where a code starts is known only once the code before it
/// is decoded, so a plain decoder does one table lookup after the other, each waiting for the
/// last. Huffman codes synchronise by themselves, though: a decoder started at an arbitrary bit
/// decodes garbage for a few codes and then falls onto the true code boundaries, after which it
/// decodes exactly what a decoder from the start would. So the stream is cut into blocks at
/// fixed bit positions and every block is decoded from its own start into a buffer of its own,
/// several blocks interleaved in one loop so that their lookups overlap, and on several threads.
/// A block's decoder notes where each of its first lookups began. The true decoder, arriving
/// from the previous block, continues code by code until it stands where the block's decoder
/// also stood: from there on the block's values are the true ones, and only the values before
/// that point come from the true decoder. A block whose decoder does not fall into step within
/// its noted lookups is decoded again by the true decoder. The end of the stream is always
/// decoded by the true decoder, so compressed bytes that run out are found exactly as before.
class HuffmanDecoder {
public:
    /// A decoder for the sourceLength compressed bytes at source, with a built tree.
    HuffmanDecoder(const CHuffmanTree& tree, const std::uint8_t* source, std::uint32_t sourceLength);

    /// CHuffmanTree::Decode, with the tree's parallelism settings. A long payload can be decoded
    /// in pieces, each call going on from where the one before ended: startBit is the bit its
    /// first code starts at, and endBit, when given, receives the bit after the last code it
    /// decoded (meaningful when all count values were decoded).
    std::uint32_t Decode(std::uint32_t count, std::uint8_t* destination, bool* exhausted, std::uint64_t startBit = 0,
                         std::uint64_t* endBit = nullptr) const;

private:
    /// A decoder standing at a code boundary: the bit it stands at and where its next value goes.
    struct Cursor {
        std::uint64_t m_nBit = 0;
        std::uint8_t* m_pOut = nullptr;
    };
    /// A decoder in the fast loops: m_nBits holds the 8 bytes at m_pNext, their top bit replaced
    /// by a marker, shifted right past the bits already decoded. The marker's distance from the
    /// top counts those bits, so the lane needs no count of its own: three values a lane keep
    /// four lanes and the table in the registers of an x86-64.
    struct Lane {
        const std::uint8_t* m_pNext = nullptr;
        std::uint64_t m_nBits = 0;
        std::uint8_t* m_pOut = nullptr;
    };
    struct SyncPoint;
    struct Notes;
    struct Block;
    struct BlockMemory;
    struct Plan;
    class Speculation;

    /// Decodes from at until end is reached or the compressed bytes run out, and with Stops also
    /// once at stands at or after stopBit (checked every few codes). Returns false when the
    /// bytes ran out before end.
    template <bool Stops>
    bool DecodeSerial(Cursor& at, std::uint8_t* end, std::uint64_t stopBit) const;

    /// Decodes the first codes of a block from at, noting where each lookup began, until
    /// maxPoints are noted or at reaches stopBit. Returns the number noted.
    int DecodeNoting(Cursor& at, std::uint64_t stopBit, SyncPoint* points, int maxPoints, std::uint64_t blockStart,
                     const std::uint8_t* buffer) const;
    /// Decodes the one code at bit into value and returns its length in bits.
    unsigned DecodeOne(std::uint64_t bit, std::uint8_t& value) const;

    /// Decodes K blocks interleaved from their cursors until one of them comes within a few
    /// codes of its stop; updates the cursors and returns the set of blocks (bit k for block k)
    /// that did. Noting, it also notes where each lookup began in notes[k], for every lane the
    /// same number of lookups, counted in *noted (at most kSyncLookups; it stops there).
    template <int K, bool Runs, bool Noting>
    unsigned DecodeLanes(Cursor* cursors, const std::uint64_t* stopBits, const Notes* notes = nullptr,
                         int* noted = nullptr) const;
    /// DecodeLanes on the run path: one block, with runs of the one-bit code taken at once.
    unsigned DecodeRuns(Cursor& at, std::uint64_t stopBit) const;
    /// One round of DecodeLanes on K lanes through the wide table: a load's lookups on each lane,
    /// noted when Noting. Returns whether a lane stalled on a code longer than the table.
    template <int K, bool Noting>
    bool StepLanes(Lane& lane0, Lane& lane1, Lane& lane2, Lane& lane3, const std::uint32_t* wide, const Notes* notes,
                   int* noted) const;
    Lane Prime(const Cursor& at) const;
    /// Moves m_pNext on by the whole bytes decoded and loads the 8 bytes there: 56 bits or more
    /// to decode from.
    static void Reload(Lane& lane);
    /// Finishes a code starting at bit that is longer than a table of tableBits bits, whose
    /// lookup led to inner node node, bit by bit: writes its value to out and returns the bit
    /// after it.
    std::uint64_t FinishLongCode(std::uint64_t bit, unsigned node, unsigned tableBits, std::uint8_t* out) const;
    std::uint64_t Position(const Lane& lane) const;

    /// Whether the run path of the one-bit code pays in this stream: then each block is decoded
    /// as one serial stream with it, and only threads decode in parallel.
    bool PrefersRuns() const;

    const CHuffmanTree& m_Tree;
    const std::uint64_t* m_pTable;
    const std::uint8_t* m_pSource;
    std::uint32_t m_nSourceLength;
};
