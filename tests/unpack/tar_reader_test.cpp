#include "setup/unpack/tar_reader.h"

#include "tests/support/tar_builder.h"
#include "tests/support/tar_recording_sink.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qv {
namespace {

using test::paxRecord;
using test::RecordingSink;
using test::TarBuilder;
using test::TarHeader;

struct ReadOutcome {
    bool ok = false;
    TarState state = TarState::Header;
    std::wstring error;
    std::vector<std::string> events;
};

ReadOutcome readInPieces(const std::string& bytes, size_t piece, const std::string& refuse = {}) {
    RecordingSink sink;
    sink.refuse = refuse;
    TarReader reader(sink);
    ReadOutcome outcome;
    outcome.ok = true;
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
    for (size_t pos = 0; pos < bytes.size() && outcome.ok; pos += piece)
        outcome.ok = reader.Feed(data + pos, std::min(piece, bytes.size() - pos));
    outcome.state = reader.state();
    outcome.error = reader.error();
    outcome.events = sink.events;
    return outcome;
}

// Reads the archive in 1-byte, odd-sized, block-sized and whole pieces; the
// outcome must not depend on how the stream was cut.
ReadOutcome readAll(const std::string& bytes, const std::string& refuse = {}) {
    ReadOutcome whole = readInPieces(bytes, bytes.size() + 1, refuse);
    for (size_t piece : {size_t{1}, size_t{7}, size_t{511}, size_t{512}, size_t{4096}}) {
        ReadOutcome cut = readInPieces(bytes, piece, refuse);
        EXPECT_EQ(cut.ok, whole.ok) << "piece " << piece;
        EXPECT_EQ(cut.state, whole.state) << "piece " << piece;
        EXPECT_EQ(cut.error, whole.error) << "piece " << piece;
        EXPECT_EQ(cut.events, whole.events) << "piece " << piece;
    }
    return whole;
}

using Events = std::vector<std::string>;

const wchar_t* const checksumError = L"The payload is damaged (a tar header checksum is wrong).";
const wchar_t* const sizeError = L"The payload is damaged (bad entry size).";
const wchar_t* const paxError = L"The payload is damaged (bad pax record).";
const wchar_t* const oversizedError = L"The payload is damaged (oversized name record).";

// --- Entries and data -------------------------------------------------------

// Catches data lost or shifted at block boundaries, and folders or empty
// files handled as data-carrying entries.
TEST(TarReader, ReadsFoldersFilesAndTheirData) {
    std::string big(1300, 'x');
    big[0] = 'A';
    big[1299] = 'Z';
    TarBuilder tar;
    tar.folder("app/").file("app/a.txt", "hello").file("app/empty.txt", "").file("app/big.bin", big)
        .folder("app/sub").end();
    ReadOutcome outcome = readAll(tar.bytes());
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.state, TarState::End);
    EXPECT_EQ(outcome.events, (Events{"dir app", "file app\\a.txt 5", "data hello", "end",
                                      "file app\\empty.txt 0", "end", "file app\\big.bin 1300",
                                      "data " + big, "end", "dir app\\sub"}));
}

// A zero-length file must be created and closed with no Write call at all.
TEST(TarReader, ZeroLengthFileGetsNoWrite) {
    RecordingSink sink;
    TarReader reader(sink);
    std::string bytes = TarBuilder().file("e", "").end().bytes();
    ASSERT_TRUE(reader.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    EXPECT_EQ(sink.writeCalls, 0u);
    EXPECT_EQ(sink.events, (Events{"file e 0", "end"}));
}

// Type flags NUL and '7' are regular files; a NUL or '0' name ending in "/"
// is a folder, but a '7' one stays a file.
TEST(TarReader, TypeFlagsOfFilesAndFolders) {
    TarHeader nulType = test::tarHeader("n.txt", 2, '\0');
    TarHeader contiguous = test::tarHeader("c.bin", 1, '7');
    TarHeader slashFile = test::tarHeader("d/e/", 0, '0');
    TarHeader slashNul = test::tarHeader("f/", 0, '\0');
    TarBuilder tar;
    tar.entry(nulType, "ab").entry(contiguous, "z").entry(slashFile, "").entry(slashNul, "").end();
    ReadOutcome outcome = readAll(tar.bytes());
    EXPECT_TRUE(outcome.ok) << testing::PrintToString(outcome.error);
    EXPECT_EQ(outcome.events, (Events{"file n.txt 2", "data ab", "end", "file c.bin 1", "data z",
                                      "end", "dir d\\e", "dir f"}));
}

// A folder header with a size field is taken to carry no data: the next
// block is read as the next header.
TEST(TarReader, FolderSizeFieldIsIgnored) {
    TarHeader folder = test::tarHeader("dir", 5000, '5');
    std::string bytes = test::tarHeaderBlock(folder) + TarBuilder().file("dir/a", "1").end().bytes();
    ReadOutcome outcome = readAll(bytes);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.events, (Events{"dir dir", "file dir\\a 1", "data 1", "end"}));
}

struct KindCase {
    char type;
    const wchar_t* message;
};

// Links, devices and unknown kinds would place something other than a plain
// file; each must stop the reader with the kind message naming the path.
TEST(TarReader, RefusesOtherKinds) {
    const KindCase cases[] = {
        {'1', L"The payload has an entry of a kind the setup does not install (type '1'): a\\link"},
        {'2', L"The payload has an entry of a kind the setup does not install (type '2'): a\\link"},
        {'3', L"The payload has an entry of a kind the setup does not install (type '3'): a\\link"},
        {'4', L"The payload has an entry of a kind the setup does not install (type '4'): a\\link"},
        {'6', L"The payload has an entry of a kind the setup does not install (type '6'): a\\link"},
        {'K', L"The payload has an entry of a kind the setup does not install (type 'K'): a\\link"},
        {'S', L"The payload has an entry of a kind the setup does not install (type 'S'): a\\link"},
        {'D', L"The payload has an entry of a kind the setup does not install (type 'D'): a\\link"},
        // A control character as the flag is shown escaped, not raw.
        {'\n', L"The payload has an entry of a kind the setup does not install (type '\\x0a'): a\\link"},
    };
    for (const KindCase& c : cases) {
        TarHeader header = test::tarHeader("a/link", 0, c.type);
        ReadOutcome outcome = readAll(TarBuilder().entry(header, "").end().bytes());
        EXPECT_FALSE(outcome.ok) << c.type;
        EXPECT_EQ(outcome.error, c.message);
        EXPECT_TRUE(outcome.events.empty());
    }
}

// The name test comes first: an unsafe link is reported as unsafe.
TEST(TarReader, UnsafeNameIsReportedBeforeTheKind) {
    TarHeader header = test::tarHeader("../evil", 0, '2');
    ReadOutcome outcome = readAll(TarBuilder().entry(header, "").end().bytes());
    EXPECT_EQ(outcome.error, L"The payload has an unsafe file name: ../evil");
}

// Every unsafe form must stop the reader before the sink hears of it,
// whichever way the name arrives.
TEST(TarReader, UnsafeNamesStopTheReaderInEveryForm) {
    for (const char* name : {"../a.txt", "/etc/passwd", "C:/x", "a/./b", "a. ", "nul", "x:y"}) {
        std::vector<std::string> archives = {
            TarBuilder().file(name, "x").end().bytes(),
            TarBuilder().longName(name).file("harmless", "x").end().bytes(),
            TarBuilder().paxPath(name).file("harmless", "x").end().bytes(),
        };
        for (const std::string& archive : archives) {
            ReadOutcome outcome = readAll(archive);
            EXPECT_FALSE(outcome.ok) << name;
            EXPECT_EQ(outcome.error, L"The payload has an unsafe file name: " + fromUtf8(name));
            EXPECT_TRUE(outcome.events.empty()) << name;
        }
    }
}

// The message shows the name as it stood in the archive, decoded as UTF-8.
TEST(TarReader, UnsafeNameMessageDecodesUtf8) {
    ReadOutcome outcome = readAll(TarBuilder().file("\xC3\xBC/../x", "").end().bytes());
    EXPECT_EQ(outcome.error, L"The payload has an unsafe file name: \u00FC/../x");
}

// Catches a name that hides its end (NUL) or forges log lines (CR LF)
// reaching the message raw: control characters are shown as \\xNN.
TEST(TarReader, UnsafeNameMessageEscapesControlCharacters) {
    const char raw[] = "a\0hidden/..\r\n2026 ERROR x\x01";
    const std::string name(raw, sizeof raw - 1);
    ReadOutcome outcome = readAll(TarBuilder().paxPath(name).file("harmless", "x").end().bytes());
    EXPECT_EQ(outcome.error,
              L"The payload has an unsafe file name: a\\x00hidden/..\\x0d\\x0a2026 ERROR x\\x01");
}

// --- Names: ustar prefix, GNU long names, pax paths -------------------------

// The prefix counts only with the ustar magic and only when no long name is
// pending.
TEST(TarReader, UstarPrefixRules) {
    TarHeader withPrefix = test::tarHeader("file.txt", 1, '0', "some/prefix");
    TarHeader oldMagic = withPrefix;
    oldMagic.magic = "";
    TarBuilder tar;
    tar.entry(withPrefix, "1").entry(oldMagic, "2").longName("long/name.txt").entry(withPrefix, "3")
        .end();
    ReadOutcome outcome = readAll(tar.bytes());
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.events,
              (Events{"file some\\prefix\\file.txt 1", "data 1", "end", "file file.txt 1", "data 2",
                      "end", "file long\\name.txt 1", "data 3", "end"}));
}

// A name field of exactly 100 bytes has no NUL; reading past it would take
// the mode field into the name.
TEST(TarReader, FullLengthNameFieldEndsAtItsLimit) {
    std::string name(100, 'n');
    ReadOutcome outcome = readAll(TarBuilder().file(name, "").end().bytes());
    EXPECT_EQ(outcome.events, (Events{"file " + name + " 0", "end"}));
}

// Long names are used in full, replace one another, and are used once.
TEST(TarReader, PendingNameRules) {
    std::string longName = std::string(150, 'a') + "/" + std::string(150, 'b') + ".txt";
    TarBuilder tar;
    tar.longName(longName).file("short1", "")                        // L name used in full
        .file("short2", "")                                          // then cleared
        .longName("first").paxPath("second").file("x", "")           // pax replaces L
        .paxPath("third").longName("fourth").file("x", "")           // L replaces pax
        .paxBody("", 'g').longName("fifth").paxBody("", 'g').file("x", "")  // g keeps it
        .end();
    ReadOutcome outcome = readAll(tar.bytes());
    EXPECT_TRUE(outcome.ok) << testing::PrintToString(outcome.error);
    std::string expectedLong = std::string(150, 'a') + "\\" + std::string(150, 'b') + ".txt";
    EXPECT_EQ(outcome.events, (Events{"file " + expectedLong + " 0", "end", "file short2 0", "end",
                                      "file second 0", "end", "file fourth 0", "end",
                                      "file fifth 0", "end"}));
}

// GNU tar ends the long name with NULs; they must not become part of it,
// while a NUL inside the name must make it unsafe.
TEST(TarReader, LongNameTrailingNulsRemoved) {
    TarHeader record = test::tarHeader("././@LongLink", 8, 'L');
    TarBuilder tar;
    tar.entry(record, std::string("abc\0\0\0\0\0", 8)).file("x", "").end();
    EXPECT_EQ(readAll(tar.bytes()).events, (Events{"file abc 0", "end"}));

    TarHeader inner = test::tarHeader("././@LongLink", 5, 'L');
    ReadOutcome outcome =
        readAll(TarBuilder().entry(inner, std::string("a\0b\0\0", 5)).file("x", "").end().bytes());
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error.rfind(L"The payload has an unsafe file name: ", 0), 0u);
}

// A global header's path must never name an entry.
TEST(TarReader, GlobalHeaderIsIgnored) {
    TarBuilder tar;
    tar.paxBody(paxRecord("comment", "git") + paxRecord("path", "../evil"), 'g').file("ok", "").end();
    ReadOutcome outcome = readAll(tar.bytes());
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.events, (Events{"file ok 0", "end"}));
}

struct PaxCase {
    std::string body;
    const char* name;  // the name the next entry gets; nullptr: bad record
};

// Pax records: only "path" counts; malformed lengths must fail instead of
// reading outside the record or looping.
TEST(TarReader, PaxRecords) {
    const PaxCase cases[] = {
        {paxRecord("path", "p/q.txt"), "p\\q.txt"},
        {paxRecord("mtime", "1.5") + paxRecord("path", "a") + paxRecord("size", "99"), "a"},
        {paxRecord("linkpath", "/etc") + paxRecord("size", "5"), "header"},
        {paxRecord("pathx", "nope") + paxRecord("xpath", "nope"), "header"},
        {"11 noequal\n", "header"},
        {paxRecord("path", "a=b"), "a=b"},
        {paxRecord("path", ""), "header"},
        {"", "header"},
        {"6 a=b", nullptr},              // record ends beyond the data
        {"nospace", nullptr},            // no space at all
        {"0 path=x\n", nullptr},         // LEN 0
        {"abc path=x\n", nullptr},       // no number gives 0
        {"99999999999999999999 path=x\n", nullptr},  // huge LEN
        {"3 path=x\n", nullptr},         // too short: the rest is no record
        {"2 x", nullptr},                // the space is the record's last byte
        {"1 ", nullptr},
        {"2 " + paxRecord("path", "a"), nullptr},  // only the space rule catches this one
        {paxRecord("path", "a") + "x", nullptr},
    };
    for (const PaxCase& c : cases) {
        TarBuilder tar;
        tar.paxBody(c.body).file("header", "").end();
        ReadOutcome outcome = readAll(tar.bytes());
        if (c.name) {
            EXPECT_TRUE(outcome.ok) << c.body << testing::PrintToString(outcome.error);
            EXPECT_EQ(outcome.events, (Events{"file " + std::string(c.name) + " 0", "end"}))
                << c.body;
        } else {
            EXPECT_FALSE(outcome.ok) << c.body;
            EXPECT_EQ(outcome.error, paxError) << c.body;
        }
    }
}

// Records up to 1 MiB are read; one byte more must fail before any of it is
// collected (else an archive could make the reader hold any amount).
TEST(TarReader, RecordSizeLimit) {
    std::string name(1048576, 'n');
    TarHeader atLimit = test::tarHeader("././@LongLink", 1048576, 'L');
    ReadOutcome ok = readInPieces(TarBuilder().entry(atLimit, name).file("x", "").end().bytes(), 65536);
    EXPECT_TRUE(ok.ok);
    ASSERT_EQ(ok.events.size(), 2u);
    EXPECT_EQ(ok.events[0], "file " + name + " 0");
    for (char type : {'L', 'x', 'g'}) {
        TarHeader over = test::tarHeader("././@LongLink", 1048577, type);
        ReadOutcome outcome = readAll(test::tarHeaderBlock(over));
        EXPECT_FALSE(outcome.ok) << type;
        EXPECT_EQ(outcome.error, oversizedError) << type;
    }
}

// --- Header fields ----------------------------------------------------------

// A header whose checksum is off by one, or computed with signed bytes (an
// old tar bug), must be refused: reading it would trust damaged data.
TEST(TarReader, ChecksumMustBeTheUnsignedSum) {
    TarHeader wrong = test::tarHeader("a.txt", 1);
    wrong.checksumDelta = 1;
    TarHeader signedSum = test::tarHeader("\xC3\xA4\xC3\xB6.txt", 1);
    signedSum.checksum = TarHeader::Checksum::Signed;
    TarHeader unsignedSum = signedSum;
    unsignedSum.checksum = TarHeader::Checksum::Unsigned;
    EXPECT_EQ(readAll(TarBuilder().entry(wrong, "1").end().bytes()).error, checksumError);
    EXPECT_EQ(readAll(TarBuilder().entry(signedSum, "1").end().bytes()).error, checksumError);
    EXPECT_TRUE(readAll(TarBuilder().entry(unsignedSum, "1").end().bytes()).ok);
}

struct FieldCase {
    std::string text;
    bool ok;
};

// Octal checksum fields in the forms real tools write pass; anything else
// in the field means a damaged header.
TEST(TarReader, ChecksumFieldForms) {
    TarHeader probe = test::tarHeader("a");
    std::string block = test::tarHeaderBlock(probe);
    unsigned sum = 0;
    for (int i = 0; i < 512; ++i)
        sum += (i >= 148 && i < 156) ? 0x20u : static_cast<unsigned char>(block[i]);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%o", sum);
    std::string octalSum = digits;
    const FieldCase cases[] = {
        {"0" + octalSum + std::string("\0 ", 2), true},
        {"  " + octalSum + "  ", true},
        {std::string("\0", 1) + octalSum + std::string(7 - octalSum.size(), '\0'), true},
        {octalSum + "9", false},
        {octalSum + " 1", false},
        {"0x" + octalSum, false},
        {"        ", false},  // reads as 0, which is not the sum
    };
    for (const FieldCase& c : cases) {
        TarHeader header = test::tarHeader("a");
        header.checksum = TarHeader::Checksum::Text;
        header.checksumText = c.text;
        ReadOutcome outcome = readAll(TarBuilder().entry(header, "").end().bytes());
        EXPECT_EQ(outcome.ok, c.ok) << testing::PrintToString(c.text);
        if (!c.ok) {
            EXPECT_EQ(outcome.error, checksumError);
        }
    }
}

struct SizeCase {
    std::string text;
    long long size;  // -1: bad size
};

// Size fields: octal between spaces and NULs; other text must fail rather
// than be read as some number.
TEST(TarReader, SizeFieldForms) {
    const SizeCase cases[] = {
        {"00000000003", 3},
        {"3", 3},
        {"   3   ", 3},
        {std::string("\0\0003\0", 5), 3},
        {"", 0},
        {"            ", 0},
        {"3 3", -1},
        {"8", -1},
        {"-3", -1},
        {"3x", -1},
        {"0x3", -1},
    };
    for (const SizeCase& c : cases) {
        TarHeader header = test::tarHeader("f");
        header.rawSize = true;
        header.sizeText = c.text;
        std::string data = c.size > 0 ? std::string(static_cast<size_t>(c.size), 'd') : "";
        ReadOutcome outcome = readAll(TarBuilder().entry(header, data).end().bytes());
        if (c.size < 0) {
            EXPECT_EQ(outcome.error, sizeError) << testing::PrintToString(c.text);
        } else {
            EXPECT_TRUE(outcome.ok) << testing::PrintToString(c.text);
            ASSERT_FALSE(outcome.events.empty());
            EXPECT_EQ(outcome.events[0], "file f " + std::to_string(c.size));
        }
    }
}

// Base-256 sizes come from the field's last 8 bytes; bytes 125-127 are not
// part of the number.
TEST(TarReader, Base256SizeReadsTheLastEightBytes) {
    TarHeader header = test::tarHeader("b.bin", 600);
    header.base256Size = true;
    header.patches = {{125, 0xFF}, {126, 0x12}, {127, 0x34}};
    ReadOutcome outcome = readAll(TarBuilder().entry(header, std::string(600, 'q')).end().bytes());
    EXPECT_TRUE(outcome.ok) << testing::PrintToString(outcome.error);
    ASSERT_GE(outcome.events.size(), 1u);
    EXPECT_EQ(outcome.events[0], "file b.bin 600");
}

// --- End of archive ---------------------------------------------------------

// Only two zero blocks in a row end the archive; a single one between
// entries is skipped and the count starts again.
TEST(TarReader, EndMarkerNeedsTwoZeroBlocksInARow) {
    EXPECT_EQ(readAll(TarBuilder().file("a", "1").bytes()).state, TarState::Header);
    EXPECT_EQ(readAll(TarBuilder().file("a", "1").zeroBlock().bytes()).state, TarState::Header);
    TarBuilder gap;
    gap.zeroBlock().file("a", "1").zeroBlock().file("b", "2").zeroBlock();
    ReadOutcome outcome = readAll(gap.bytes());
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.state, TarState::Header);
    EXPECT_EQ(outcome.events.size(), 6u);
    EXPECT_EQ(readAll(gap.zeroBlock().bytes()).state, TarState::End);
}

// Whatever follows the end marker, even a damaged header, is never read.
TEST(TarReader, DataAfterTheEndIsIgnored) {
    TarHeader broken = test::tarHeader("evil");
    broken.checksumDelta = 7;
    TarBuilder tar;
    tar.file("a", "1").end().file("after", "x").entry(broken, "").raw("junk");
    ReadOutcome outcome = readAll(tar.bytes());
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.state, TarState::End);
    EXPECT_EQ(outcome.events, (Events{"file a 1", "data 1", "end"}));
}

// --- Failures stop for good -------------------------------------------------

// A sink that refuses stops the reader without a message of its own, and no
// later Feed may go on with the half-finished entry.
TEST(TarReader, SinkRefusalStopsTheReader) {
    std::string bytes = TarBuilder().folder("d").file("d/a", "12345").file("d/b", "6").end().bytes();
    for (const char* refuse : {"dir", "file", "write", "end"}) {
        RecordingSink sink;
        sink.refuse = refuse;
        TarReader reader(sink);
        const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
        EXPECT_FALSE(reader.Feed(data, bytes.size())) << refuse;
        EXPECT_TRUE(reader.error().empty()) << refuse;
        size_t eventsAtStop = sink.events.size();
        EXPECT_FALSE(reader.Feed(data, bytes.size())) << refuse;
        EXPECT_EQ(sink.events.size(), eventsAtStop) << refuse;
    }
}

// The first error is kept: feeding more cannot replace or clear it.
TEST(TarReader, FirstErrorIsKept) {
    TarHeader broken = test::tarHeader("a");
    broken.checksumDelta = 1;
    RecordingSink sink;
    TarReader reader(sink);
    std::string bad = test::tarHeaderBlock(broken);
    std::string good = TarBuilder().file("b", "").end().bytes();
    EXPECT_FALSE(reader.Feed(reinterpret_cast<const uint8_t*>(bad.data()), bad.size()));
    EXPECT_FALSE(reader.Feed(reinterpret_cast<const uint8_t*>(good.data()), good.size()));
    EXPECT_EQ(reader.error(), checksumError);
    EXPECT_TRUE(sink.events.empty());
}

}  // namespace
}  // namespace qv
