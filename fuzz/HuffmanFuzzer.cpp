// Fuzz target for the Huffman coder of GPF and DPF payloads: the first 1024 bytes are a count
// table (any table gives a tree), the next four how many bytes to decode, the rest compressed
// data. The table-driven decoder must agree with the plain tree walk byte for byte, serially and
// cut into speculative blocks on several threads (block lengths from the input, so that blocks
// start inside codes and bytes), never read or write out of bounds, and what it decodes must
// encode back to the same bits, also in slices stitched at bit offsets, placed by a pass over
// them or by their byte counts.

#include "FuzzHarness.h"

#include "formats/CHuffmanTree.h"
#include "formats/HuffmanReference.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kTable = CHuffmanTree::kLeafCount * 4;
    if (size < kTable + 4)
        return 0;
    std::uint32_t counts[CHuffmanTree::kLeafCount];
    std::memcpy(counts, data, kTable);
    std::uint32_t count = 0;
    std::memcpy(&count, data + kTable, 4);
    const std::uint8_t* source = data + kTable + 4;
    const auto sourceLength = static_cast<std::uint32_t>(size - kTable - 4);
    // As the reader allows: every code is at least one bit long.
    count = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, std::uint64_t(sourceLength) * 8));

    CHuffmanTree tree;
    tree.BuildTree(counts);
    // Exact-size buffers so that AddressSanitizer sees any access past their ends.
    std::vector<std::uint8_t> fast(count), plain(count);
    bool fastExhausted = false, plainExhausted = false;
    const std::uint32_t fastCount = tree.Decode(source, sourceLength, count, fast.data(), &fastExhausted);
    const std::uint32_t plainCount = HuffmanDecodeReference(tree, source, sourceLength, count, plain.data(), &plainExhausted);
    if (fastCount != plainCount || fastExhausted != plainExhausted ||
        !std::equal(fast.begin(), fast.begin() + fastCount, plain.begin()))
        std::abort();

    // The same stream in blocks small enough for inputs of a few kilobytes.
    const std::uint32_t blockBits = 9 + (counts[0] ^ count) % 4000;
    for (int threads : {1, 3}) {
        tree.SetParallelism({threads, true, blockBits, 0});
        std::vector<std::uint8_t> split(count);
        bool splitExhausted = false;
        const std::uint32_t splitCount = tree.Decode(source, sourceLength, count, split.data(), &splitExhausted);
        if (splitCount != plainCount || splitExhausted != plainExhausted ||
            !std::equal(split.begin(), split.begin() + splitCount, plain.begin()))
            std::abort();
    }
    tree.SetParallelism({});

    // What was decoded encodes back to the bits it came from.
    if (!fastExhausted && fastCount > 0) {
        std::uint64_t bits = 0;
        for (std::uint32_t i = 0; i < fastCount; ++i)
            bits += static_cast<std::uint64_t>(tree.CodeLength(fast[i]));
        std::vector<std::uint8_t> encoded(static_cast<std::size_t>((bits + 7) / 8), 0);
        const std::uint32_t written = tree.Encode(fast.data(), fastCount, encoded.data());
        if (written != encoded.size() || bits > std::uint64_t(sourceLength) * 8)
            std::abort();
        for (std::uint64_t bit = 0; bit < bits; ++bit)
            if (((encoded[bit >> 3] >> (bit & 7)) & 1) != ((source[bit >> 3] >> (bit & 7)) & 1))
                std::abort();
        // Encoded in slices on several threads, placed by a pass over them or by their counts:
        // the same bytes.
        const std::uint32_t sliceBytes = 1 + (counts[1] ^ count) % 700;
        tree.SetParallelism({3, true, 0, sliceBytes});
        std::vector<std::uint8_t> sliced(encoded.size(), 0);
        if (tree.Encode(fast.data(), fastCount, sliced.data()) != written || sliced != encoded)
            std::abort();
        CHuffmanTree::SliceCounts slices {sliceBytes, {}};
        std::uint32_t total[CHuffmanTree::kLeafCount];
        CHuffmanTree::CountBytes(fast.data(), fastCount, total, 3, &slices);
        std::fill(sliced.begin(), sliced.end(), std::uint8_t(0));
        if (tree.Encode(fast.data(), fastCount, sliced.data(), &slices) != written || sliced != encoded)
            std::abort();
        tree.SetParallelism({});
    }
    return 0;
}
