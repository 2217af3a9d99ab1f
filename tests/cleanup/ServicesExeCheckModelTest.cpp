// The header verdict against an independent model of the rule, over many
// generated samples and files: valid headers, flipped bits, odd offsets,
// truncated files.
#include "cleanup/ServicesExeCheck.h"
#include "cleanup/ServicesExeTestFiles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <random>
#include <string>

namespace {

// The rule written from the system's header structures: a file larger than
// the sample, a DOS header, and a whole 32-bit NT header inside the sample
// whose optional header lacks the dynamic-base flag.
bool ModelSaysInfected(const std::string& file)
{
    if (file.size() <= HeaderSampleSize)
        return false;
    IMAGE_DOS_HEADER dos;
    memcpy(&dos, file.data(), sizeof dos);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0)
        return false;
    if (static_cast<unsigned long long>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS32) > HeaderSampleSize)
        return false;
    IMAGE_NT_HEADERS32 nt;
    memcpy(&nt, file.data() + dos.e_lfanew, sizeof nt);
    return nt.Signature == IMAGE_NT_SIGNATURE &&
           (nt.OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) == 0;
}

class SampleGenerator {
public:
    explicit SampleGenerator(unsigned seed) : random_(seed) {}

    std::string Next()
    {
        std::string s(HeaderSampleSize, '\0');
        switch (Below(4)) {
        case 0:  // noise
            for (char& c : s)
                c = static_cast<char>(Below(256));
            break;
        case 1:  // a plausible header, possibly damaged
            WriteHeader(&s, NtOffset());
            FlipBits(&s, Below(3), NtOffsetOf(s));
            break;
        case 2:  // a plausible header on noise
            for (char& c : s)
                c = static_cast<char>(Below(256));
            WriteHeader(&s, NtOffset());
            FlipBits(&s, Below(2), NtOffsetOf(s));
            break;
        default:  // heavily damaged
            WriteHeader(&s, NtOffset());
            FlipBits(&s, 1 + Below(8), NtOffsetOf(s));
            break;
        }
        return s;
    }

    unsigned Below(unsigned bound) { return std::uniform_int_distribution<unsigned>(0, bound - 1)(random_); }

private:
    LONG NtOffset()
    {
        switch (Below(4)) {
        case 0:
            return static_cast<LONG>(Below(4096));
        case 1:
            return 3848 - 8 + static_cast<LONG>(Below(17));  // around the limit
        case 2:
            return static_cast<LONG>(std::uniform_int_distribution<unsigned>()(random_));  // any, negative too
        default:
            return 0x40 + static_cast<LONG>(Below(0x200));  // where linkers put it
        }
    }

    static LONG NtOffsetOf(const std::string& s)
    {
        LONG offset;
        memcpy(&offset, s.data() + 60, sizeof offset);
        return offset;
    }

    void WriteHeader(std::string* s, LONG ntOffset)
    {
        const WORD mz = IMAGE_DOS_SIGNATURE;
        memcpy(&(*s)[0], &mz, 2);
        memcpy(&(*s)[60], &ntOffset, 4);
        if (ntOffset < 0 || ntOffset > static_cast<LONG>(HeaderSampleSize) - 4)
            return;
        const DWORD pe = IMAGE_NT_SIGNATURE;
        memcpy(&(*s)[static_cast<size_t>(ntOffset)], &pe, 4);
        const size_t at = static_cast<size_t>(ntOffset) + offsetof(IMAGE_NT_HEADERS32, OptionalHeader.DllCharacteristics);
        if (at + 2 <= s->size()) {
            const WORD characteristics = static_cast<WORD>(Below(0x10000));
            memcpy(&(*s)[at], &characteristics, 2);
        }
    }

    // Flips bits in the fields that decide: the DOS magic, e_lfanew, the NT
    // signature and DllCharacteristics.
    void FlipBits(std::string* s, unsigned count, LONG ntOffset)
    {
        for (unsigned i = 0; i < count; ++i) {
            size_t at;
            switch (Below(4)) {
            case 0:
                at = Below(2);
                break;
            case 1:
                at = 60 + Below(4);
                break;
            case 2:
                at = static_cast<size_t>(ntOffset) + Below(4);
                break;
            default:
                at = static_cast<size_t>(ntOffset) + 94 + Below(2);
                break;
            }
            if (at < s->size())
                (*s)[at] = static_cast<char>((*s)[at] ^ (1 << Below(8)));
        }
    }

    std::mt19937 random_;
};

TEST(ServicesExeHeaderModel, VerdictOnGeneratedSamplesMatchesTheModel)
{
    for (unsigned seed : {1u, 20260101u, 0xC0FFEEu}) {
        SampleGenerator generator(seed);
        unsigned infected = 0;
        unsigned clean = 0;
        for (int i = 0; i < 100000; ++i) {
            const std::string s = generator.Next();
            unsigned char sample[HeaderSampleSize];
            memcpy(sample, s.data(), sizeof sample);
            // The model judges a file of the sample plus one byte.
            const bool expected = ModelSaysInfected(s + '\0');
            const bool actual = SampleLacksDynamicBase(sample);
            if (expected != actual) {
                ADD_FAILURE() << "seed " << seed << ", sample " << i << ": model " << expected << ", verdict "
                              << actual;
                return;
            }
            ++(actual ? infected : clean);
        }
        // Both verdicts must have been exercised in quantity.
        EXPECT_GT(infected, 5000u) << "seed " << seed;
        EXPECT_GT(clean, 10000u) << "seed " << seed;
    }
}

TEST(ServicesExeHeaderModel, VerdictOnGeneratedFilesMatchesTheModel)
{
    const std::string directory = MakeScratchDirectory("model");
    ASSERT_FALSE(directory.empty());
    const std::string path = directory + "\\image.exe";
    SampleGenerator generator(77);
    for (int i = 0; i < 400; ++i) {
        std::string file = generator.Next();
        size_t size;
        switch (generator.Below(3)) {
        case 0:
            size = HeaderSampleSize - 4 + generator.Below(9);  // around the size limit
            break;
        case 1:
            size = generator.Below(HeaderSampleSize);  // truncated
            break;
        default:
            size = HeaderSampleSize + 1 + generator.Below(20000);
            break;
        }
        file.resize(size, '\x11');
        ASSERT_TRUE(WriteFileBytes(path, file));
        const bool expected = ModelSaysInfected(file);
        const bool actual = ImageLacksDynamicBase(path.c_str());
        if (expected != actual) {
            ADD_FAILURE() << "file " << i << " of " << size << " bytes: model " << expected << ", verdict " << actual;
            break;
        }
    }
    RemoveTree(directory);
}

}  // namespace
