#pragma once
// The byte-oriented Huffman coder of the GPF and DPF payloads. A projection file stores the 256
// byte counts of its BMP payload, not the codes; the reader rebuilds the tree from the counts.
// The way the tree is built from the counts (scan order, tie-breaks, which child gets bit 0) is
// therefore part of the file format and must never change.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

/// A static Huffman tree over all 256 byte values, built from a table of byte counts, with the
/// coder that uses it. Every byte value is a leaf, also one whose count is 0, so any byte can be
/// encoded with any tree. The 511 nodes and the lookup tables of the table-driven coder live
/// inside the object: building, encoding and decoding allocate nothing.
///
/// Codes are written root first and packed from the least significant bit of each byte upward.
/// Encode and Decode produce exactly the bits of the plain leaf-to-root / root-to-leaf walks in
/// HuffmanReference.h; they only get there faster. On a large payload both share the work out
/// over several threads (see Parallelism and HuffmanDecoder.h); a built tree is only read by
/// them, so one tree may code on several threads at once.
///
/// A tree is not copyable: its nodes point at each other inside the object.
class CHuffmanTree {
public:
    static constexpr int kLeafCount = 256;
    static constexpr int kNodeCount = 511;
    static constexpr int kRootIndex = 510;
    /// No tree has a leaf deeper than this (a chain over 256 leaves); a code never has more bits.
    static constexpr int kMaxCodeLength = 255;

    /// One node of the tree. Nodes 0 to 255 are the leaves of byte values 0 to 255; nodes 256 to
    /// 510 are the inner nodes in the order they were created.
    class CNode {
    public:
        bool IsLeaf() const { return m_pChild0 == nullptr; }

        std::int32_t m_nIndex = -1;   ///< own position in the tree; a leaf's byte value
        std::uint32_t m_nCount = 0;   ///< a leaf's byte count; an inner node's sum of its children (32-bit)
        CNode* m_pChild0 = nullptr;   ///< reached by bit 0; the child with the lower index
        CNode* m_pChild1 = nullptr;   ///< reached by bit 1
        CNode* m_pParent = nullptr;   ///< null for the root
        bool m_bActive = false;       ///< still a root candidate while the tree is being built
    };

    /// How Encode and Decode share out the work on a large payload. The defaults suit maps of
    /// any size; smaller pieces only serve to exercise the joins on small inputs.
    struct Parallelism {
        /// Threads to use, the calling one included; 0 for the shared pool's (the machine's cores,
        /// at most 8).
        int m_nThreads = 0;
        /// False decodes the payload as one serial stream, on one thread.
        bool m_bSpeculative = true;
        /// Length in bits of the blocks the compressed stream is cut into for decoding; 0 for
        /// 64 KB. Any length decodes the same bytes.
        std::uint32_t m_nBlockBits = 0;
        /// Bytes of source per slice when encoding on several threads; 0 for an equal share of a
        /// payload of at least 4 MB per thread (smaller payloads are encoded on one thread).
        std::uint32_t m_nSliceBytes = 0;
    };

    /// The byte counts of a payload cut into slices, one table a slice, as CountBytes finds them
    /// on several threads. Encode places each slice's codes in the output from them, with no pass
    /// of its own over the payload.
    struct SliceCounts {
        /// Bytes of each slice but the last, which takes the rest. 0 before counting lets
        /// CountBytes cut the payload into one slice a thread.
        std::uint32_t m_nSliceBytes = 0;
        std::vector<std::array<std::uint32_t, kLeafCount>> m_Counts;
    };

    CHuffmanTree();
    ~CHuffmanTree();
    CHuffmanTree(const CHuffmanTree&) = delete;
    CHuffmanTree& operator=(const CHuffmanTree&) = delete;

    /// Builds the tree from the count of each byte value (counts[v] for value v), discarding any
    /// previous tree. Writers pass the counts of the payload they are about to encode; readers
    /// pass the counts stored in the file, whatever they are: any table gives a valid tree.
    void BuildTree(const std::uint32_t counts[kLeafCount]);

    /// Encodes length bytes of source into destination and returns the number of bytes written
    /// (a partly filled last byte counts; 0 for an empty source). Writes nothing at or after
    /// destination + returned count; in the last byte the bits above the last code keep what the
    /// destination held. The destination must hold the encoded size: with a tree built from the
    /// counts of source itself that is never more than length bytes. On several threads the
    /// slices of counted (from CountBytes over the same source), when given, are the slices
    /// encoded in parallel.
    std::uint32_t Encode(const std::uint8_t* source, std::uint32_t length, std::uint8_t* destination,
                         const SliceCounts* counted = nullptr) const;

    /// The bit at which the codes of each slice of a payload counted slice by slice (CountBytes)
    /// start in its encoding, one entry a slice, and the payload's encoded bits at the end.
    std::vector<std::uint64_t> SliceFirstBits(const SliceCounts& counted) const;
    /// Encodes slices first to last - 1 of the length bytes at source as cut by counted, on
    /// several threads, into bytes (firstBits[first] + 7) / 8 to (firstBits[last] + 7) / 8 of the
    /// payload's encoding, which go to destination on: a long payload is encoded and written a
    /// few slices at a time, into the same bytes Encode gives. In the last byte of the payload
    /// the bits above the last code keep what the destination held. firstBits from
    /// SliceFirstBits(counted); every slice but a first one holds 8 bytes or more.
    void EncodeSlices(const std::uint8_t* source, std::uint32_t length, const SliceCounts& counted,
                      const std::vector<std::uint64_t>& firstBits, std::size_t first, std::size_t last,
                      std::uint8_t* destination) const;

    /// Counts how often each byte value occurs in length bytes of source (counts[v] for value v),
    /// on threads threads (0: the shared pool's) for a large source. With slices, also the counts
    /// of each slice of slices->m_nSliceBytes bytes, or of one slice a thread where that is 0.
    static void CountBytes(const std::uint8_t* source, std::uint32_t length, std::uint32_t counts[kLeafCount],
                           int threads = 0, SliceCounts* slices = nullptr);

    /// Decodes count bytes from the sourceLength compressed bytes at source into destination.
    /// Returns count when the compressed bytes held all count codes. When they run out first it
    /// returns the number of bytes completely decoded (less than count) and sets *exhausted; the
    /// reader turns that into an invalid file. Never reads source[sourceLength] or beyond, never
    /// writes destination[count] or beyond; after exhaustion the bytes from the returned count
    /// up to count are unspecified. exhausted may be null; it is set to false on success.
    [[nodiscard]] std::uint32_t Decode(const std::uint8_t* source, std::uint32_t sourceLength, std::uint32_t count,
                                       std::uint8_t* destination, bool* exhausted = nullptr) const;

    /// The counts the tree was built from, by byte value (what a projection file stores).
    const std::array<std::uint32_t, kLeafCount>& Counts() const { return m_nCounts; }
    /// Node index (0 to 510); node kRootIndex is the root once the tree is built.
    const CNode& Node(int index) const { return m_Nodes[static_cast<std::size_t>(index)]; }
    const CNode& Root() const { return m_Nodes[kRootIndex]; }
    /// Number of bits in the code of a byte value (1 to kMaxCodeLength); 0 before BuildTree.
    /// Encode and Decode, too, need a built tree.
    int CodeLength(std::uint8_t value) const { return m_nCodeLength[value]; }
    /// Bits of the codes of a payload with these byte counts: its encoded size before a bit is
    /// written (with the tree's own counts never more than 8 bits a byte).
    std::uint64_t EncodedBits(const std::uint32_t counts[kLeafCount]) const;

    /// Settings that change how fast a payload is coded, never the bytes.
    void SetParallelism(const Parallelism& parallelism) { m_Parallelism = parallelism; }

private:
    friend class HuffmanDecoder;

    void BuildEncodeTable();
    void BuildDecodeTable();
    /// Encodes source to end as one part of a stream cut into slices: the first skipBits bits of
    /// its codes are left out (the previous slice wrote them), and carry, carryBits bits long,
    /// goes out after its own codes (the first bits of the next slice, completing the last
    /// byte). The first bit goes to bit 0 of destination. Returns the end of what was written;
    /// the bits above a last, partly filled byte keep what the destination held.
    std::uint8_t* EncodeSlice(const std::uint8_t* source, const std::uint8_t* end, std::uint8_t* destination,
                              unsigned skipBits, std::uint64_t carry, unsigned carryBits) const;
    /// Encode on several threads: slices of sliceBytes (the last one takes the rest), with their
    /// byte counts where counted is given.
    std::uint32_t EncodeInSlices(const std::uint8_t* source, std::uint32_t length, std::uint8_t* destination,
                                 int threads, std::uint32_t sliceBytes, const SliceCounts* counted) const;
    /// Encodes slices first to last - 1 of slices of sliceBytes (the last takes the rest),
    /// starting at firstBit, on threads threads, destination taking byte (firstBit[first] + 7) / 8.
    void EncodeSlicesOn(int threads, const std::uint8_t* source, std::uint32_t length, std::uint32_t sliceBytes,
                        std::size_t slices, const std::vector<std::uint64_t>& firstBit, std::size_t first,
                        std::size_t last, std::uint8_t* destination) const;

    std::array<std::uint32_t, kLeafCount> m_nCounts {};
    std::array<CNode, kNodeCount> m_Nodes;

    // Encoder table: the code of each byte value, first bit in bit 0, for codes of up to
    // kMaxTableCodeLength bits; longer codes are written by climbing the tree.
    static constexpr int kMaxTableCodeLength = 56;
    std::array<std::uint64_t, kLeafCount> m_nCode {};
    std::array<std::uint8_t, kLeafCount> m_nCodeLength {};

    // Decoder table indexed by the next kDecodeTableBits bits of input (next bit in bit 0). An
    // entry holds the bits it consumes (bits 0-7), how many whole codes those bits are (bits
    // 8-15, up to kMaxSymbolsPerEntry) and their byte values (bits 16-63, first in 16-23). A
    // count of 0 means the first code is longer than the table: bits 16-31 then name the
    // inner node reached after kDecodeTableBits bits, from where decoding continues bit by bit,
    // and the entry consumes no bits, so that a decoder taking it as it is stays where it was.
    static constexpr int kDecodeTableBits = 11;
    static constexpr int kMaxSymbolsPerEntry = 6;
    std::array<std::uint64_t, std::size_t(1) << kDecodeTableBits> m_nDecodeTable {};
    // The table of the interleaved block decoder (HuffmanDecoder.h): as large in bytes, one bit
    // more lookahead, so that scans give more whole codes a lookup. An entry holds the bits it
    // consumes (bits 0-5), how many whole codes those are (bits 6-7, up to 3) and their values
    // (bits 8-31, first in 8-15); 0 codes: the first code is longer than the table, bits 8-23
    // name the inner node reached after kWideTableBits bits, and the entry consumes nothing.
    static constexpr int kWideTableBits = 12;
    static constexpr int kMaxSymbolsPerWideEntry = 3;
    std::array<std::uint32_t, std::size_t(1) << kWideTableBits> m_nWideTable {};
    // When one byte value has a one-bit code (white paper in a line-art map), a run of 0 bits is
    // a run of that value and is decoded many values at a time; -1 when no code is one bit long.
    // The code is always 0: a leaf has a lower index than any inner node, so it is child 0.
    int m_nRunValue = -1;
    // The longest code of the tree in bits.
    int m_nMaxCodeLength = 0;

    Parallelism m_Parallelism;
};
