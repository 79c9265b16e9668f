// The GPF/DPF Huffman coder: tree construction from stored counts (part of the file format),
// the table-driven coder and the plain tree walks it must match bit for bit, and the guard
// against compressed payloads that end too early.

#include "formats/CHuffmanTree.h"
#include "formats/HuffmanReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#define VARNEL_HUFFMAN_TEST_GUARD_PAGE 1
#endif

namespace {

using Counts = std::array<std::uint32_t, 256>;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kFill = 0xB7;  // what destinations hold before a coder writes
constexpr std::size_t kSlack = 40;    // bytes after the allowed area that must stay untouched

Counts CountsOf(const Bytes& data)
{
    Counts counts {};
    for (std::uint8_t byte : data)
        ++counts[byte];
    return counts;
}

std::unique_ptr<CHuffmanTree> MakeTree(const Counts& counts)
{
    auto tree = std::make_unique<CHuffmanTree>();
    tree->BuildTree(counts.data());
    return tree;
}

/// Depth of a leaf found by following the parent pointers, independent of the coder's tables.
int Depth(const CHuffmanTree& tree, int leaf)
{
    int depth = 0;
    for (const CHuffmanTree::CNode* node = &tree.Node(leaf); node->m_pParent != nullptr; node = node->m_pParent)
        ++depth;
    return depth;
}

std::uint64_t EncodedBits(const CHuffmanTree& tree, const Bytes& source)
{
    std::array<int, 256> depth {};
    for (int v = 0; v < 256; ++v)
        depth[static_cast<std::size_t>(v)] = Depth(tree, v);
    std::uint64_t bits = 0;
    for (std::uint8_t byte : source)
        bits += static_cast<std::uint64_t>(depth[byte]);
    return bits;
}

std::uint8_t ReverseBits(std::uint8_t value)
{
    std::uint8_t reversed = 0;
    for (int i = 0; i < 8; ++i)
        if ((value >> i) & 1)
            reversed = static_cast<std::uint8_t>(reversed | (0x80 >> i));
    return reversed;
}

/// Packs a written-out bit string ("0110...", first bit first) least significant bit first over
/// a buffer filled with kFill, the way the coder must leave it.
Bytes PackBits(const std::string& bits, std::size_t size)
{
    Bytes packed(size, kFill);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        std::uint8_t& byte = packed[i / 8];
        const auto mask = static_cast<std::uint8_t>(1u << (i % 8));
        byte = static_cast<std::uint8_t>(bits[i] == '1' ? (byte | mask) : (byte & ~mask));
    }
    return packed;
}

Counts Filled(std::uint32_t value)
{
    Counts counts;
    counts.fill(value);
    return counts;
}

/// Fibonacci counts 1, 1, 2, 3, 5, ... for values 0 to 44 (their sum still fits 32 bits, as in a
/// real payload) and 0 for the rest: the deepest tree a stored count table of a real file gives.
Counts Fibonacci45()
{
    Counts counts {};
    std::uint32_t a = 1;
    std::uint32_t b = 1;
    for (int v = 0; v < 45; ++v) {
        counts[static_cast<std::size_t>(v)] = a;
        const std::uint32_t next = a + b;
        a = b;
        b = next;
    }
    return counts;
}

/// Fibonacci counts for all 256 values, wrapping at 32 bits, as a corrupt file could hold.
Counts FibonacciWrapped()
{
    Counts counts {};
    std::uint32_t a = 1;
    std::uint32_t b = 1;
    for (auto& count : counts) {
        count = a;
        const std::uint32_t next = a + b; // wraps
        a = b;
        b = next;
    }
    return counts;
}

enum class Shape { Uniform, Skewed, VerySkewed, TwoValues, LineArt, SmoothNoise, Count };

const char* ShapeName(Shape shape)
{
    switch (shape) {
    case Shape::Uniform: return "uniform";
    case Shape::Skewed: return "skewed";
    case Shape::VerySkewed: return "very skewed";
    case Shape::TwoValues: return "two values";
    case Shape::LineArt: return "line art";
    case Shape::SmoothNoise: return "smooth with noise";
    case Shape::Count: break;
    }
    return "?";
}

Bytes MakePayload(Shape shape, std::size_t size, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::exponential_distribution<double> exponential(1.0 / 12.0);
    std::normal_distribution<double> noise(0.0, 9.0);
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) {
        int value = 0;
        switch (shape) {
        case Shape::Uniform: value = anyByte(random); break;
        case Shape::Skewed: value = std::min(255, static_cast<int>(exponential(random))); break;
        case Shape::VerySkewed: value = unit(random) < 0.995 ? 0xFF : anyByte(random); break;
        case Shape::TwoValues: value = unit(random) < 0.3 ? 0x00 : 0x7F; break;
        case Shape::LineArt: {
            const double u = unit(random);
            value = u < 0.95 ? 0xFF : u < 0.99 ? 0x00 : anyByte(random);
            break;
        }
        case Shape::SmoothNoise:
            value = static_cast<int>(128 + 90 * std::sin(double(i) / 700.0) + noise(random));
            value = std::clamp(value, 0, 255);
            break;
        case Shape::Count: break;
        }
        data[i] = static_cast<std::uint8_t>(value);
    }
    return data;
}

/// The compressed bytes placed so that they end exactly where readable memory ends (a
/// PROT_NONE page follows), so a coder reading one byte too many crashes the test instead of
/// silently getting away with it. Without guard pages: an exactly sized heap block.
class TailGuardedBytes {
public:
    TailGuardedBytes(const std::uint8_t* data, std::size_t size)
    {
#ifdef VARNEL_HUFFMAN_TEST_GUARD_PAGE
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t dataPages = (size + page - 1) / page;
        m_nMapped = (dataPages + 1) * page;
        void* mapped = mmap(nullptr, m_nMapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            ADD_FAILURE() << "mmap failed";
            m_nMapped = 0;
            m_Fallback.assign(data, data + size);
            m_pData = m_Fallback.data();
            return;
        }
        m_pBase = static_cast<std::uint8_t*>(mapped);
        EXPECT_EQ(mprotect(m_pBase + dataPages * page, page, PROT_NONE), 0);
        m_pData = m_pBase + dataPages * page - size;
        if (size != 0)
            std::memcpy(m_pData, data, size);
#else
        m_Fallback.assign(data, data + size);
        m_pData = m_Fallback.data();
#endif
    }
    ~TailGuardedBytes()
    {
#ifdef VARNEL_HUFFMAN_TEST_GUARD_PAGE
        if (m_pBase != nullptr)
            munmap(m_pBase, m_nMapped);
#endif
    }
    TailGuardedBytes(const TailGuardedBytes&) = delete;
    TailGuardedBytes& operator=(const TailGuardedBytes&) = delete;

    const std::uint8_t* Data() const { return m_pData; }

private:
    std::uint8_t* m_pBase = nullptr;
    std::uint8_t* m_pData = nullptr;
    std::size_t m_nMapped = 0;
    Bytes m_Fallback;
};

// ---------------------------------------------------------------------------------------------
// The two coders behind one interface, so that every behaviour is checked on both.

struct Coder {
    const char* m_pName;
    std::uint32_t (*m_pEncode)(const CHuffmanTree&, const std::uint8_t*, std::uint32_t, std::uint8_t*);
    std::uint32_t (*m_pDecode)(const CHuffmanTree&, const std::uint8_t*, std::uint32_t, std::uint32_t, std::uint8_t*,
                               bool*);
};

std::uint32_t FastEncode(const CHuffmanTree& tree, const std::uint8_t* source, std::uint32_t length,
                         std::uint8_t* destination)
{
    return tree.Encode(source, length, destination);
}

std::uint32_t FastDecode(const CHuffmanTree& tree, const std::uint8_t* source, std::uint32_t sourceLength,
                         std::uint32_t count, std::uint8_t* destination, bool* exhausted)
{
    return tree.Decode(source, sourceLength, count, destination, exhausted);
}

void PrintTo(const Coder& coder, std::ostream* os)
{
    *os << coder.m_pName;
}

const Coder kFastCoder {"Fast", &FastEncode, &FastDecode};
const Coder kReferenceCoder {"Reference", &HuffmanEncodeReference, &HuffmanDecodeReference};

struct Encoded {
    Bytes m_Buffer;            ///< capacity bytes plus kSlack, all kFill before encoding
    std::uint32_t m_nCount = 0;
};

Encoded EncodeWith(const Coder& coder, const CHuffmanTree& tree, const Bytes& source, std::size_t capacity)
{
    Encoded encoded;
    encoded.m_Buffer.assign(capacity + kSlack, kFill);
    encoded.m_nCount =
        coder.m_pEncode(tree, source.data(), static_cast<std::uint32_t>(source.size()), encoded.m_Buffer.data());
    return encoded;
}

struct Decoded {
    Bytes m_Buffer;            ///< count bytes plus kSlack, all kFill before decoding
    std::uint32_t m_nCount = 0;
    bool m_bExhausted = false;
};

Decoded DecodeWith(const Coder& coder, const CHuffmanTree& tree, const std::uint8_t* source,
                   std::uint32_t sourceLength, std::uint32_t count)
{
    Decoded decoded;
    decoded.m_Buffer.assign(std::size_t(count) + kSlack, kFill);
    decoded.m_bExhausted = true; // the coder must set it either way
    decoded.m_nCount = coder.m_pDecode(tree, source, sourceLength, count, decoded.m_Buffer.data(), &decoded.m_bExhausted);
    return decoded;
}

bool SlackUntouched(const Bytes& buffer, std::size_t from)
{
    return std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(from), buffer.end(),
                       [](std::uint8_t b) { return b == kFill; });
}

Bytes Prefix(const Bytes& bytes, std::size_t size)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
}

class HuffmanCoderTest : public ::testing::TestWithParam<Coder> {};

// ---------------------------------------------------------------------------------------------
// Known encodings.

TEST_P(HuffmanCoderTest, AbracadabraGivesKnownBytes)
{
    const std::string text = "abracadabra";
    const Bytes source(text.begin(), text.end());
    const auto tree = MakeTree(CountsOf(source));

    const Encoded encoded = EncodeWith(GetParam(), *tree, source, source.size());
    ASSERT_EQ(encoded.m_nCount, 3u);
    EXPECT_EQ(Prefix(encoded.m_Buffer, 3), (Bytes {0x76, 0x25, 0x76}));
    EXPECT_TRUE(SlackUntouched(encoded.m_Buffer, 3));

    const Decoded decoded = DecodeWith(GetParam(), *tree, encoded.m_Buffer.data(), 3, 11);
    EXPECT_EQ(decoded.m_nCount, 11u);
    EXPECT_FALSE(decoded.m_bExhausted);
    EXPECT_EQ(Prefix(decoded.m_Buffer, 11), source);
    EXPECT_TRUE(SlackUntouched(decoded.m_Buffer, 11));
}

TEST_P(HuffmanCoderTest, SingleValueGivesZeroBitsOnly)
{
    // Every length up to 300 puts the end of the output at each position relative to the
    // coder's internal word and byte boundaries; the large ones run through the bulk paths.
    std::vector<std::size_t> repeats;
    for (std::size_t n = 1; n <= 300; ++n)
        repeats.push_back(n);
    for (std::size_t n : {1000u, 4099u, 100003u})
        repeats.push_back(n);
    for (std::uint8_t value : {0, 77, 255}) {
        for (std::size_t repeat : repeats) {
            SCOPED_TRACE(::testing::Message() << "value " << int(value) << " x " << repeat);
            const Bytes source(repeat, value);
            const auto tree = MakeTree(CountsOf(source));
            const std::size_t expectedBytes = (repeat + 7) / 8;

            const Encoded encoded = EncodeWith(GetParam(), *tree, source, source.size());
            ASSERT_EQ(encoded.m_nCount, expectedBytes);
            ASSERT_EQ(Prefix(encoded.m_Buffer, expectedBytes), PackBits(std::string(repeat, '0'), expectedBytes));
            ASSERT_TRUE(SlackUntouched(encoded.m_Buffer, expectedBytes));

            const TailGuardedBytes compressed(encoded.m_Buffer.data(), encoded.m_nCount);
            const Decoded decoded = DecodeWith(GetParam(), *tree, compressed.Data(), encoded.m_nCount,
                                               static_cast<std::uint32_t>(repeat));
            ASSERT_EQ(decoded.m_nCount, repeat);
            EXPECT_FALSE(decoded.m_bExhausted);
            ASSERT_EQ(Prefix(decoded.m_Buffer, repeat), source);
            ASSERT_TRUE(SlackUntouched(decoded.m_Buffer, repeat));
        }
    }
}

TEST_P(HuffmanCoderTest, EvenCountsGiveBitReversedBytes)
{
    for (std::size_t repeat : {1u, 2u, 5u, 40u}) {
        SCOPED_TRACE(::testing::Message() << "each value " << repeat << " times");
        Bytes source;
        for (std::size_t r = 0; r < repeat; ++r)
            for (int v = 0; v < 256; ++v)
                source.push_back(static_cast<std::uint8_t>(v));
        std::shuffle(source.begin(), source.end(), std::mt19937(static_cast<std::uint32_t>(repeat)));
        const auto tree = MakeTree(CountsOf(source));

        const Encoded encoded = EncodeWith(GetParam(), *tree, source, source.size());
        ASSERT_EQ(encoded.m_nCount, source.size());
        Bytes reversed(source.size());
        std::transform(source.begin(), source.end(), reversed.begin(), ReverseBits);
        EXPECT_EQ(Prefix(encoded.m_Buffer, source.size()), reversed);
        EXPECT_TRUE(SlackUntouched(encoded.m_Buffer, source.size()));

        const Decoded decoded = DecodeWith(GetParam(), *tree, encoded.m_Buffer.data(), encoded.m_nCount,
                                           static_cast<std::uint32_t>(source.size()));
        EXPECT_EQ(Prefix(decoded.m_Buffer, source.size()), source);
    }
}

TEST_P(HuffmanCoderTest, EmptySourceWritesAndReadsNothing)
{
    const auto tree = MakeTree(CountsOf(MakePayload(Shape::Skewed, 500, 1)));
    Bytes destination(kSlack, kFill);
    // Null pointers: touching either would crash.
    EXPECT_EQ(GetParam().m_pEncode(*tree, nullptr, 0, destination.data()), 0u);
    EXPECT_TRUE(SlackUntouched(destination, 0));

    bool exhausted = true;
    EXPECT_EQ(GetParam().m_pDecode(*tree, nullptr, 0, 0, nullptr, &exhausted), 0u);
    EXPECT_FALSE(exhausted);
}

TEST_P(HuffmanCoderTest, ChainTreeCodesAreWrittenInFull)
{
    // All counts at the 32-bit maximum: every sum wraps below the remaining leaves, so the tree
    // is one chain. Leaf 255 gets "0", leaf k from 2 to 254 gets 255 - k ones and a zero, leaf 1
    // 255 ones and leaf 0 254 ones and a zero: codes far longer than any lookup table or buffer.
    const auto tree = MakeTree(Filled(0xFFFFFFFFu));
    auto code = [](int value) {
        if (value == 0)
            return std::string(254, '1') + '0';
        if (value == 1)
            return std::string(255, '1');
        return std::string(static_cast<std::size_t>(255 - value), '1') + '0';
    };
    std::mt19937 random(7);
    std::uniform_int_distribution<int> anyByte(0, 255);
    const std::vector<Bytes> sources = {{0}, {1}, {255}, {254, 255, 2}, Bytes(300, 0), MakePayload(Shape::Uniform, 3000, 5)};
    for (const Bytes& source : sources) {
        SCOPED_TRACE(::testing::Message() << source.size() << " bytes starting with " << int(source[0]));
        std::string bits;
        for (std::uint8_t byte : source)
            bits += code(byte);
        const std::size_t expectedBytes = (bits.size() + 7) / 8;

        const Encoded encoded = EncodeWith(GetParam(), *tree, source, expectedBytes);
        ASSERT_EQ(encoded.m_nCount, expectedBytes);
        EXPECT_EQ(Prefix(encoded.m_Buffer, expectedBytes), PackBits(bits, expectedBytes));
        EXPECT_TRUE(SlackUntouched(encoded.m_Buffer, expectedBytes));

        const TailGuardedBytes compressed(encoded.m_Buffer.data(), encoded.m_nCount);
        const Decoded decoded = DecodeWith(GetParam(), *tree, compressed.Data(), encoded.m_nCount,
                                           static_cast<std::uint32_t>(source.size()));
        EXPECT_EQ(decoded.m_nCount, source.size());
        EXPECT_FALSE(decoded.m_bExhausted);
        EXPECT_EQ(Prefix(decoded.m_Buffer, source.size()), source);
    }
}

TEST_P(HuffmanCoderTest, LastByteKeepsItsUnusedBitsAndNothingAfterIsWritten)
{
    for (std::size_t size = 1; size < 200; size += 7) {
        SCOPED_TRACE(::testing::Message() << size << " bytes");
        const Bytes source = MakePayload(Shape::Skewed, size, static_cast<std::uint32_t>(size));
        const auto tree = MakeTree(CountsOf(source));
        const std::uint64_t bits = EncodedBits(*tree, source);
        const std::size_t expectedBytes = static_cast<std::size_t>((bits + 7) / 8);

        const Encoded encoded = EncodeWith(GetParam(), *tree, source, size);
        ASSERT_EQ(encoded.m_nCount, expectedBytes);
        if (bits % 8 != 0) {
            const auto unused = static_cast<std::uint8_t>(0xFF << (bits % 8));
            EXPECT_EQ(encoded.m_Buffer[expectedBytes - 1] & unused, kFill & unused);
        }
        EXPECT_TRUE(SlackUntouched(encoded.m_Buffer, expectedBytes));
    }
}

// ---------------------------------------------------------------------------------------------
// Round trips.

TEST_P(HuffmanCoderTest, RoundTripsWithTreeRebuiltFromStoredCounts)
{
    const std::size_t sizes[] = {1, 2, 7, 8, 9, 63, 64, 65, 100, 1000, 4097, 65536 + 3};
    for (int s = 0; s < static_cast<int>(Shape::Count); ++s) {
        const auto shape = static_cast<Shape>(s);
        for (std::size_t size : sizes) {
            SCOPED_TRACE(::testing::Message() << ShapeName(shape) << ", " << size << " bytes");
            const Bytes source = MakePayload(shape, size, static_cast<std::uint32_t>(size * 31 + s));
            const auto writer = MakeTree(CountsOf(source));
            // A code over the source's own counts never needs more room than the source.
            const Encoded encoded = EncodeWith(GetParam(), *writer, source, size);
            ASSERT_LE(encoded.m_nCount, size);
            EXPECT_TRUE(SlackUntouched(encoded.m_Buffer, encoded.m_nCount));

            // The reader only has the stored counts.
            const auto reader = MakeTree(writer->Counts());
            const TailGuardedBytes compressed(encoded.m_Buffer.data(), encoded.m_nCount);
            const Decoded decoded = DecodeWith(GetParam(), *reader, compressed.Data(), encoded.m_nCount,
                                               static_cast<std::uint32_t>(size));
            EXPECT_EQ(decoded.m_nCount, size);
            EXPECT_FALSE(decoded.m_bExhausted);
            EXPECT_EQ(Prefix(decoded.m_Buffer, size), source);
            EXPECT_TRUE(SlackUntouched(decoded.m_Buffer, size));
        }
    }
}

TEST_P(HuffmanCoderTest, RoundTripsWithLongCodes)
{
    struct Case {
        const char* m_pName;
        Counts m_Counts;
    };
    const Case cases[] = {{"Fibonacci, 45 values", Fibonacci45()},
                          {"Fibonacci, wrapping", FibonacciWrapped()},
                          {"all at maximum", Filled(0xFFFFFFFFu)}};
    for (const Case& c : cases) {
        const auto tree = MakeTree(c.m_Counts);
        for (int s = 0; s < static_cast<int>(Shape::Count); ++s) {
            SCOPED_TRACE(::testing::Message() << c.m_pName << ", " << ShapeName(static_cast<Shape>(s)));
            Bytes source = MakePayload(static_cast<Shape>(s), 5000, static_cast<std::uint32_t>(s));
            for (int v = 0; v < 256; ++v)
                source.insert(source.begin() + v * 19, static_cast<std::uint8_t>(v)); // every code once
            const std::size_t capacity = static_cast<std::size_t>((EncodedBits(*tree, source) + 7) / 8);
            const Encoded encoded = EncodeWith(GetParam(), *tree, source, capacity);
            ASSERT_EQ(encoded.m_nCount, capacity);
            EXPECT_TRUE(SlackUntouched(encoded.m_Buffer, capacity));

            const TailGuardedBytes compressed(encoded.m_Buffer.data(), encoded.m_nCount);
            const Decoded decoded = DecodeWith(GetParam(), *tree, compressed.Data(), encoded.m_nCount,
                                               static_cast<std::uint32_t>(source.size()));
            EXPECT_EQ(decoded.m_nCount, source.size());
            EXPECT_EQ(Prefix(decoded.m_Buffer, source.size()), source);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Compressed data that ends too early, and decoding fewer bytes than were encoded.

TEST_P(HuffmanCoderTest, AskingForMoreThanWasEncodedReportsExhausted)
{
    const std::string text = "abracadabra";
    const Bytes source(text.begin(), text.end());
    const auto tree = MakeTree(CountsOf(source));
    const Bytes compressed = {0x76, 0x25, 0x76}; // exactly the 24 bits of the eleven codes
    const TailGuardedBytes guarded(compressed.data(), compressed.size());

    const Decoded decoded = DecodeWith(GetParam(), *tree, guarded.Data(), 3, 12);
    EXPECT_EQ(decoded.m_nCount, 11u);
    EXPECT_TRUE(decoded.m_bExhausted);
    EXPECT_EQ(Prefix(decoded.m_Buffer, 11), source);
    EXPECT_TRUE(SlackUntouched(decoded.m_Buffer, 12));
}

TEST_P(HuffmanCoderTest, TruncatedDataReportsExhaustedAndStopsAtItsEnd)
{
    struct Case {
        const char* m_pName;
        Bytes m_Source;
        Counts m_Counts;
    };
    const Bytes lineArt = MakePayload(Shape::LineArt, 30000, 11);
    const Bytes noisy = MakePayload(Shape::SmoothNoise, 30000, 12);
    const Bytes uniform = MakePayload(Shape::Uniform, 3000, 13);
    const Case cases[] = {{"line art", lineArt, CountsOf(lineArt)},
                          {"noisy", noisy, CountsOf(noisy)},
                          {"chain tree", uniform, Filled(0xFFFFFFFFu)}};
    for (const Case& c : cases) {
        const auto tree = MakeTree(c.m_Counts);
        const std::uint64_t totalBits = EncodedBits(*tree, c.m_Source);
        const Encoded encoded = EncodeWith(GetParam(), *tree, c.m_Source, static_cast<std::size_t>((totalBits + 7) / 8));
        const std::uint32_t full = encoded.m_nCount;
        for (std::uint32_t kept : {0u, 1u, 7u, 8u, 9u, 15u, 16u, full / 3, full / 2 + 1, full - 9, full - 8, full - 1}) {
            SCOPED_TRACE(::testing::Message() << c.m_pName << ", " << kept << " of " << full << " bytes");
            // The codes that fit completely into the kept bytes.
            std::uint32_t whole = 0;
            for (std::uint64_t bits = 0; whole < c.m_Source.size(); ++whole) {
                bits += static_cast<std::uint64_t>(Depth(*tree, c.m_Source[whole]));
                if (bits > std::uint64_t(kept) * 8)
                    break;
            }
            const TailGuardedBytes truncated(encoded.m_Buffer.data(), kept);
            const Decoded decoded = DecodeWith(GetParam(), *tree, truncated.Data(), kept,
                                               static_cast<std::uint32_t>(c.m_Source.size()));
            EXPECT_TRUE(decoded.m_bExhausted);
            EXPECT_EQ(decoded.m_nCount, whole);
            EXPECT_EQ(Prefix(decoded.m_Buffer, decoded.m_nCount), Prefix(c.m_Source, decoded.m_nCount));
            EXPECT_TRUE(SlackUntouched(decoded.m_Buffer, c.m_Source.size()));
        }
    }
}

TEST_P(HuffmanCoderTest, DecodingFewerBytesWritesOnlyThose)
{
    const Bytes source = MakePayload(Shape::LineArt, 20000, 21);
    const auto tree = MakeTree(CountsOf(source));
    const Encoded encoded = EncodeWith(GetParam(), *tree, source, source.size());
    const TailGuardedBytes compressed(encoded.m_Buffer.data(), encoded.m_nCount);
    for (std::uint32_t count : {0u, 1u, 5u, 31u, 32u, 33u, 1000u, 19999u}) {
        SCOPED_TRACE(::testing::Message() << count << " bytes");
        const Decoded decoded = DecodeWith(GetParam(), *tree, compressed.Data(), encoded.m_nCount, count);
        EXPECT_EQ(decoded.m_nCount, count);
        EXPECT_FALSE(decoded.m_bExhausted);
        EXPECT_EQ(Prefix(decoded.m_Buffer, count), Prefix(source, count));
        EXPECT_TRUE(SlackUntouched(decoded.m_Buffer, count));
    }
}

INSTANTIATE_TEST_SUITE_P(Huffman, HuffmanCoderTest, ::testing::Values(kFastCoder, kReferenceCoder),
                         [](const ::testing::TestParamInfo<Coder>& info) { return std::string(info.param.m_pName); });

// ---------------------------------------------------------------------------------------------
// The table-driven coder against the plain walks on many inputs.

TEST(HuffmanCoderAgreement, FastMatchesReferenceOnRandomInputs)
{
    const Counts foreignTables[] = {Fibonacci45(), FibonacciWrapped(), Filled(0xFFFFFFFFu)};
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> shapeOf(0, static_cast<int>(Shape::Count) - 1);
    std::uniform_int_distribution<int> tableOf(0, 5);
    std::uniform_int_distribution<std::uint32_t> sizeOf(0, 40000);
    for (int round = 0; round < 150; ++round) {
        const auto shape = static_cast<Shape>(shapeOf(random));
        std::size_t size = sizeOf(random);
        if (round % 3 == 0)
            size %= 300; // many short inputs: the tail handling matters most there
        const Bytes source = MakePayload(shape, size, static_cast<std::uint32_t>(round));
        const int table = tableOf(random);
        Counts counts = CountsOf(source);
        if (table < 3) {
            counts = foreignTables[table];
        } else if (table == 3) {
            // Random stored counts of wildly different sizes, some zero.
            for (auto& count : counts)
                count = static_cast<std::uint32_t>(random() >> (random() % 32u));
        }
        SCOPED_TRACE(::testing::Message() << "round " << round << ", " << ShapeName(shape) << ", " << size
                                          << " bytes, table " << table);
        const auto tree = MakeTree(counts);
        const std::size_t capacity = static_cast<std::size_t>((EncodedBits(*tree, source) + 7) / 8);

        const Encoded fast = EncodeWith(kFastCoder, *tree, source, capacity);
        const Encoded reference = EncodeWith(kReferenceCoder, *tree, source, capacity);
        ASSERT_EQ(fast.m_nCount, reference.m_nCount);
        ASSERT_EQ(fast.m_Buffer, reference.m_Buffer);

        // Whole, then cut short at a random place, then only a random number of values.
        std::uniform_int_distribution<std::uint32_t> cutOf(0, fast.m_nCount);
        std::uniform_int_distribution<std::uint32_t> countOf(0, static_cast<std::uint32_t>(size));
        const std::uint32_t lengths[] = {fast.m_nCount, cutOf(random), fast.m_nCount};
        const std::uint32_t wanted[] = {static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(size), countOf(random)};
        for (int variant = 0; variant < 3; ++variant) {
            const TailGuardedBytes compressed(fast.m_Buffer.data(), lengths[variant]);
            const Decoded a = DecodeWith(kFastCoder, *tree, compressed.Data(), lengths[variant], wanted[variant]);
            const Decoded b = DecodeWith(kReferenceCoder, *tree, compressed.Data(), lengths[variant], wanted[variant]);
            ASSERT_EQ(a.m_nCount, b.m_nCount) << "variant " << variant;
            EXPECT_EQ(a.m_bExhausted, b.m_bExhausted) << "variant " << variant;
            EXPECT_EQ(Prefix(a.m_Buffer, a.m_nCount), Prefix(b.m_Buffer, b.m_nCount)) << "variant " << variant;
            EXPECT_EQ(Prefix(a.m_Buffer, a.m_nCount), Prefix(source, a.m_nCount)) << "variant " << variant;
        }
    }
}

/// A payload and the counts its tree is built from, for the coder split into blocks or slices.
struct SplitCase {
    const char* m_pName;
    Counts m_Counts;
    Bytes m_Source;
};

/// Payloads whose code boundaries a decoder started anywhere finds at once, late, or never.
std::vector<SplitCase> SplitCases()
{
    std::vector<SplitCase> cases;
    auto own = [&](const char* name, Bytes source) {
        const Counts counts = CountsOf(source);
        cases.push_back({name, counts, std::move(source)});
    };
    own("smooth with noise", MakePayload(Shape::SmoothNoise, 60000, 31));
    own("skewed", MakePayload(Shape::Skewed, 60000, 32));
    own("line art (run path)", MakePayload(Shape::LineArt, 90000, 33));
    own("two values", MakePayload(Shape::TwoValues, 40000, 34));
    own("a single value", Bytes(70000, 0x41));
    // Sixteen common values and rare ones with codes a little longer than the lanes' table, as
    // in a scan: one lane stalls on a long code while the others stand anywhere in their words.
    {
        std::mt19937 random(39);
        std::uniform_int_distribution<int> common(0, 15), rare(16, 255), percent(0, 99);
        Bytes scan(200000);
        for (std::uint8_t& byte : scan)
            byte = static_cast<std::uint8_t>(percent(random) < 2 ? rare(random) : common(random));
        own("rare long codes", std::move(scan));
    }
    // All 256 codes 8 bits long: a block starting inside a byte never falls into step.
    cases.push_back({"equal 8-bit codes", Filled(1), MakePayload(Shape::Uniform, 30000, 35)});
    // Fifteen values with 4-bit codes (value 0 pairs with the absent ones and gets 5 bits).
    Counts sixteen {};
    for (int v = 0; v < 16; ++v)
        sixteen[static_cast<std::size_t>(v)] = 1000;
    Bytes nibbles = MakePayload(Shape::Uniform, 40000, 36);
    for (std::uint8_t& byte : nibbles)
        byte = static_cast<std::uint8_t>(1 + byte % 15);
    cases.push_back({"equal 4-bit codes", sixteen, std::move(nibbles)});
    // Codes up to 255 bits, longer than any table entry.
    cases.push_back({"Fibonacci, wrapping", FibonacciWrapped(), MakePayload(Shape::Uniform, 4000, 37)});
    cases.push_back({"chain tree", Filled(0xFFFFFFFFu), MakePayload(Shape::Skewed, 3000, 38)});
    cases.push_back({"a single 255-bit code", Filled(0xFFFFFFFFu), Bytes(1500, 0x00)});
    return cases;
}

TEST(HuffmanCoderAgreement, SplitDecodingMatchesReference)
{
    // Blocks of odd bit lengths start inside codes and inside bytes; on several threads the
    // joins happen in every order of finishing.
    const CHuffmanTree::Parallelism splits[] = {
        {1, true, 13, 0}, {2, true, 61, 0}, {3, true, 1000, 0}, {1, true, 8 * 4096 + 3, 0}, {2, true, 8 * 2048, 0}};
    std::mt19937 random(77);
    for (const SplitCase& c : SplitCases()) {
        const auto tree = MakeTree(c.m_Counts);
        const std::size_t capacity = static_cast<std::size_t>((EncodedBits(*tree, c.m_Source) + 7) / 8);
        const Encoded encoded = EncodeWith(kReferenceCoder, *tree, c.m_Source, capacity);
        const auto size = static_cast<std::uint32_t>(c.m_Source.size());
        std::uniform_int_distribution<std::uint32_t> cutOf(encoded.m_nCount / 2, encoded.m_nCount - 1);
        std::uniform_int_distribution<std::uint32_t> countOf(size / 3, size - 1);
        // Whole, cut short, and fewer values than were encoded.
        const std::uint32_t lengths[] = {encoded.m_nCount, cutOf(random), encoded.m_nCount};
        const std::uint32_t wanted[] = {size, size, countOf(random)};
        for (int variant = 0; variant < 3; ++variant) {
            const TailGuardedBytes compressed(encoded.m_Buffer.data(), lengths[variant]);
            const Decoded expected = DecodeWith(kReferenceCoder, *tree, compressed.Data(), lengths[variant], wanted[variant]);
            for (const CHuffmanTree::Parallelism& split : splits) {
                SCOPED_TRACE(::testing::Message() << c.m_pName << ", variant " << variant << ", " << split.m_nThreads
                                                  << " threads, blocks of " << split.m_nBlockBits << " bits");
                tree->SetParallelism(split);
                const Decoded decoded = DecodeWith(kFastCoder, *tree, compressed.Data(), lengths[variant], wanted[variant]);
                ASSERT_EQ(decoded.m_nCount, expected.m_nCount);
                EXPECT_EQ(decoded.m_bExhausted, expected.m_bExhausted);
                EXPECT_EQ(Prefix(decoded.m_Buffer, decoded.m_nCount), Prefix(expected.m_Buffer, expected.m_nCount));
                EXPECT_TRUE(SlackUntouched(decoded.m_Buffer, wanted[variant]));
            }
        }
    }
}

TEST(HuffmanCoderAgreement, SlicedEncodingMatchesReference)
{
    // Slices of every size start at every bit of a byte; the last slice keeps the unused top
    // bits of the last byte as they were, and nothing after it is written.
    const CHuffmanTree::Parallelism slices[] = {{2, true, 0, 8}, {3, true, 0, 37}, {2, true, 0, 1000}, {4, true, 0, 4096}};
    for (const SplitCase& c : SplitCases()) {
        const auto tree = MakeTree(c.m_Counts);
        const std::size_t capacity = static_cast<std::size_t>((EncodedBits(*tree, c.m_Source) + 7) / 8);
        const Encoded expected = EncodeWith(kReferenceCoder, *tree, c.m_Source, capacity);
        for (const CHuffmanTree::Parallelism& slice : slices) {
            SCOPED_TRACE(::testing::Message() << c.m_pName << ", " << slice.m_nThreads << " threads, slices of "
                                              << slice.m_nSliceBytes << " bytes");
            tree->SetParallelism(slice);
            const Encoded encoded = EncodeWith(kFastCoder, *tree, c.m_Source, capacity);
            EXPECT_EQ(encoded.m_nCount, expected.m_nCount);
            EXPECT_EQ(encoded.m_Buffer, expected.m_Buffer);

            // The same slices placed by their byte counts, as the writer encodes; counts that do
            // not add up to the payload (another payload's) are not trusted.
            const auto length = static_cast<std::uint32_t>(c.m_Source.size());
            CHuffmanTree::SliceCounts counted {slice.m_nSliceBytes, {}};
            Counts total;
            CHuffmanTree::CountBytes(c.m_Source.data(), length, total.data(), slice.m_nThreads, &counted);
            CHuffmanTree::SliceCounts foreign = counted;
            ++foreign.m_Counts.back()[0];
            for (const CHuffmanTree::SliceCounts* counts : {&counted, &foreign}) {
                Bytes buffer(capacity + kSlack, kFill);
                EXPECT_EQ(tree->Encode(c.m_Source.data(), length, buffer.data(), counts), expected.m_nCount);
                EXPECT_EQ(buffer, expected.m_Buffer) << (counts == &foreign ? "foreign counts" : "own counts");
            }
        }
    }
}

TEST(HuffmanCoderAgreement, CountingMatchesOneByOne)
{
    // Long enough to be counted on several threads, with an odd tail for the four tables.
    Bytes source = MakePayload(Shape::LineArt, (std::size_t(9) << 20) + 13, 41);
    for (std::size_t i = 0; i < 256; ++i)
        source[i * 3] = static_cast<std::uint8_t>(i);
    const Counts expected = CountsOf(source);
    for (int threads : {1, 2, 3}) {
        SCOPED_TRACE(::testing::Message() << threads << " threads");
        Counts counts;
        counts.fill(0xDEAD);
        CHuffmanTree::CountBytes(source.data(), static_cast<std::uint32_t>(source.size()), counts.data(), threads);
        EXPECT_EQ(counts, expected);

        // By slices: one a thread, as many as the payload's 4 MB a thread allow, the last one
        // taking the rest.
        CHuffmanTree::SliceCounts slices;
        CHuffmanTree::CountBytes(source.data(), static_cast<std::uint32_t>(source.size()), counts.data(), threads, &slices);
        EXPECT_EQ(counts, expected);
        ASSERT_EQ(slices.m_Counts.size(), std::size_t(std::min(threads, 2)));
        EXPECT_EQ(slices.m_nSliceBytes, source.size() / slices.m_Counts.size());
        for (std::size_t slice = 0; slice < slices.m_Counts.size(); ++slice) {
            const auto begin = source.begin() + std::ptrdiff_t(slice * slices.m_nSliceBytes);
            const auto end = slice + 1 == slices.m_Counts.size() ? source.end() : begin + slices.m_nSliceBytes;
            EXPECT_EQ(slices.m_Counts[slice], CountsOf(Bytes(begin, end))) << "slice " << slice;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Tree construction: stored counts must always give the same tree.

TEST(HuffmanTreeShape, NewTreeHoldsUnbuiltNodes)
{
    const auto tree = std::make_unique<CHuffmanTree>();
    for (int i = 0; i < CHuffmanTree::kNodeCount; ++i) {
        const CHuffmanTree::CNode& node = tree->Node(i);
        EXPECT_EQ(node.m_nIndex, -1);
        EXPECT_EQ(node.m_nCount, 0u);
        EXPECT_EQ(node.m_pChild0, nullptr);
        EXPECT_EQ(node.m_pChild1, nullptr);
        EXPECT_EQ(node.m_pParent, nullptr);
        EXPECT_FALSE(node.m_bActive);
    }
}

TEST(HuffmanTreeShape, AbracadabraTreeTop)
{
    const std::string text = "abracadabra";
    const auto tree = MakeTree(CountsOf(Bytes(text.begin(), text.end())));
    // The 251 absent values merge first into one subtree of weight 0 (node 505); it then pairs
    // with c, that with d, b with r, and so on up to the root.
    struct Expected {
        int m_nNode;
        int m_nChild0;
        int m_nChild1;
        std::uint32_t m_nCount;
    };
    const Expected expected[] = {
        {510, 'a', 509, 11}, {509, 507, 508, 6}, {508, 'b', 'r', 4}, {507, 'd', 506, 2}, {506, 'c', 505, 1}, {505, -1, -1, 0}};
    for (const Expected& e : expected) {
        SCOPED_TRACE(::testing::Message() << "node " << e.m_nNode);
        const CHuffmanTree::CNode& node = tree->Node(e.m_nNode);
        EXPECT_EQ(node.m_nCount, e.m_nCount);
        if (e.m_nChild0 < 0)
            continue;
        ASSERT_NE(node.m_pChild0, nullptr);
        ASSERT_NE(node.m_pChild1, nullptr);
        EXPECT_EQ(node.m_pChild0->m_nIndex, e.m_nChild0);
        EXPECT_EQ(node.m_pChild1->m_nIndex, e.m_nChild1);
    }
    EXPECT_EQ(tree->CodeLength('a'), 1);
    EXPECT_EQ(tree->CodeLength('b'), 3);
    EXPECT_EQ(tree->CodeLength('r'), 3);
    EXPECT_EQ(tree->CodeLength('d'), 3);
    EXPECT_EQ(tree->CodeLength('c'), 4);
}

TEST(HuffmanTreeShape, EqualCountsPairNodesInIndexOrder)
{
    // With all counts equal, leaves pair first (0 with 1, 2 with 3, ...), then the inner nodes in
    // the order they were made: node 256 + m always joins nodes 2m and 2m + 1.
    for (std::uint32_t count : {0u, 1u, 1000u}) {
        SCOPED_TRACE(::testing::Message() << "count " << count);
        const auto tree = MakeTree(Filled(count));
        for (int m = 0; m < 255; ++m) {
            const CHuffmanTree::CNode& node = tree->Node(256 + m);
            ASSERT_NE(node.m_pChild0, nullptr);
            EXPECT_EQ(node.m_pChild0->m_nIndex, 2 * m);
            EXPECT_EQ(node.m_pChild1->m_nIndex, 2 * m + 1);
        }
        for (int v = 0; v < 256; ++v)
            EXPECT_EQ(tree->CodeLength(static_cast<std::uint8_t>(v)), 8);
    }
}

TEST(HuffmanTreeShape, ExtremeCountTablesGiveKnownCodeLengths)
{
    // All at the maximum: a chain (see ChainTreeCodesAreWrittenInFull).
    const auto chain = MakeTree(Filled(0xFFFFFFFFu));
    EXPECT_EQ(chain->CodeLength(0), 255);
    EXPECT_EQ(chain->CodeLength(1), 255);
    for (int v = 2; v < 256; ++v)
        EXPECT_EQ(chain->CodeLength(static_cast<std::uint8_t>(v)), 256 - v) << "value " << v;
    for (int r = 0; r < 255; ++r)
        EXPECT_EQ(chain->Node(256 + r).m_nCount, 0xFFFFFFFFu - std::uint32_t(r + 1)) << "node " << 256 + r;

    // Fibonacci counts: value k joins the chain one level below value k + 1; value 0 sits beside
    // the weight-0 subtree of the 211 absent values, whose leaves lie 7 or 8 levels deeper.
    const auto fibonacci = MakeTree(Fibonacci45());
    EXPECT_EQ(fibonacci->CodeLength(0), 45);
    for (int v = 1; v < 45; ++v)
        EXPECT_EQ(fibonacci->CodeLength(static_cast<std::uint8_t>(v)), 45 - v) << "value " << v;
    for (int v = 45; v < 256; ++v) {
        EXPECT_GE(fibonacci->CodeLength(static_cast<std::uint8_t>(v)), 45 + 7) << "value " << v;
        EXPECT_LE(fibonacci->CodeLength(static_cast<std::uint8_t>(v)), 45 + 8) << "value " << v;
    }
}

TEST(HuffmanTreeShape, StructureHoldsForAnyCountTable)
{
    std::mt19937 random(99);
    Counts randomCounts {};
    for (auto& count : randomCounts)
        count = static_cast<std::uint32_t>(random() >> (random() % 32u));
    const std::string text = "abracadabra";
    struct Case {
        const char* m_pName;
        Counts m_Counts;
    };
    const Case cases[] = {{"abracadabra", CountsOf(Bytes(text.begin(), text.end()))},
                          {"all zero", Filled(0)},
                          {"noisy payload", CountsOf(MakePayload(Shape::SmoothNoise, 50000, 3))},
                          {"random", randomCounts},
                          {"Fibonacci, wrapping", FibonacciWrapped()},
                          {"all at maximum", Filled(0xFFFFFFFFu)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pName);
        const auto tree = MakeTree(c.m_Counts);
        EXPECT_EQ(tree->Counts(), c.m_Counts);
        const CHuffmanTree::CNode& root = tree->Root();
        EXPECT_EQ(&root, &tree->Node(CHuffmanTree::kRootIndex));
        EXPECT_EQ(root.m_pParent, nullptr);
        EXPECT_TRUE(root.m_bActive);
        std::uint32_t total = 0;
        for (std::uint32_t count : c.m_Counts)
            total += count; // 32-bit, like the tree's own sums
        EXPECT_EQ(root.m_nCount, total);
        for (int i = 0; i < CHuffmanTree::kNodeCount; ++i) {
            const CHuffmanTree::CNode& node = tree->Node(i);
            SCOPED_TRACE(::testing::Message() << "node " << i);
            ASSERT_EQ(node.m_nIndex, i);
            if (i != CHuffmanTree::kRootIndex) {
                EXPECT_FALSE(node.m_bActive);
                ASSERT_NE(node.m_pParent, nullptr);
                EXPECT_GT(node.m_pParent->m_nIndex, i);
                EXPECT_EQ(node.m_pParent, &tree->Node(node.m_pParent->m_nIndex)); // inside this tree
                EXPECT_TRUE(node.m_pParent->m_pChild0 == &node || node.m_pParent->m_pChild1 == &node);
            }
            if (i < CHuffmanTree::kLeafCount) {
                EXPECT_EQ(node.m_nCount, c.m_Counts[static_cast<std::size_t>(i)]);
                EXPECT_EQ(node.m_pChild0, nullptr);
                EXPECT_EQ(node.m_pChild1, nullptr);
                EXPECT_EQ(tree->CodeLength(static_cast<std::uint8_t>(i)), Depth(*tree, i));
            } else {
                ASSERT_NE(node.m_pChild0, nullptr);
                ASSERT_NE(node.m_pChild1, nullptr);
                EXPECT_LT(node.m_pChild0->m_nIndex, node.m_pChild1->m_nIndex);
                EXPECT_EQ(node.m_pChild0->m_pParent, &node);
                EXPECT_EQ(node.m_pChild1->m_pParent, &node);
                EXPECT_EQ(node.m_nCount, node.m_pChild0->m_nCount + node.m_pChild1->m_nCount);
            }
        }
    }
}

TEST(HuffmanTreeShape, RebuildingReplacesThePreviousTree)
{
    const Bytes source = MakePayload(Shape::Skewed, 3000, 8);
    const auto fresh = MakeTree(CountsOf(source));
    const auto reused = MakeTree(Filled(0xFFFFFFFFu));
    reused->BuildTree(CountsOf(source).data());
    for (int i = 0; i < CHuffmanTree::kNodeCount; ++i) {
        SCOPED_TRACE(::testing::Message() << "node " << i);
        const CHuffmanTree::CNode& a = fresh->Node(i);
        const CHuffmanTree::CNode& b = reused->Node(i);
        EXPECT_EQ(a.m_nCount, b.m_nCount);
        EXPECT_EQ(a.m_bActive, b.m_bActive);
        auto indexOf = [](const CHuffmanTree::CNode* node) { return node != nullptr ? node->m_nIndex : -1; };
        EXPECT_EQ(indexOf(a.m_pChild0), indexOf(b.m_pChild0));
        EXPECT_EQ(indexOf(a.m_pChild1), indexOf(b.m_pChild1));
        EXPECT_EQ(indexOf(a.m_pParent), indexOf(b.m_pParent));
    }
    EXPECT_EQ(EncodeWith(kFastCoder, *reused, source, source.size()).m_Buffer,
              EncodeWith(kReferenceCoder, *fresh, source, source.size()).m_Buffer);
}

} // namespace
