/* Number readers and field readers: what a piece of command line reads as,
   where the read position is left, and what is stored. */
#include "entry_output_fixture.h"

namespace {

struct ReaderRow {
    const char *line;
    int ok;
    int value; /* when ok */
    int ptrAfter;
};

class FieldsTest : public EntryOutputTest {
protected:
    static void setLine(const std::string &line)
    {
        memset(gCmdStr, 0, sizeof gCmdStr);
        memcpy(gCmdStr, line.data(), line.size());
        gCmdPtr = 0;
    }

    /* each line read from its start: the result, what is stored (nothing
       on failure) and where the read position is left */
    template <size_t N> static void checkReader(int32_t (*reader)(uint8_t *), const ReaderRow (&rows)[N])
    {
        for (const ReaderRow &r : rows) {
            setLine(r.line);
            uint8_t v = 0xEE;
            EXPECT_EQ(reader(&v), r.ok) << "'" << r.line << "'";
            if (r.ok)
                EXPECT_EQ(v, r.value) << "'" << r.line << "'";
            else
                EXPECT_EQ(v, 0xEE) << "'" << r.line << "' stored on failure";
            EXPECT_EQ(gCmdPtr, r.ptrAfter) << "'" << r.line << "'";
        }
    }
};

TEST_F(FieldsTest, HexReaderTable)
{
    const ReaderRow rows[] = {
        {"3C", 1, 0x3C, 2},
        {"3C40", 1, 0x3C, 2}, /* the second field begins right after two digits */
        {"3 40", 1, 0x03, 1}, /* left on the separator */
        {"a", 1, 10, 1},
        {"A", 1, 10, 1},
        {"fF", 1, 255, 2},
        {"Ff", 1, 255, 2},
        {"00", 1, 0, 2},
        {" ,;. 5", 1, 5, 6},
        {"7,", 1, 7, 1},
        {"7.", 1, 7, 1},
        {"7;", 1, 7, 1},
        {"G", 0, 0, 1},
        {"g", 0, 0, 1},
        {"Q", 0, 0, 1},
        {":", 0, 0, 1},
        {"@", 0, 0, 1},
        {"/", 0, 0, 1},
        {"5N", 0, 0, 2},  /* N taken as a second digit */
        {"05N", 1, 5, 2}, /* after two digits nothing is tested */
        {"", 0, 0, 0},    /* the terminator is not stepped over */
        {"   ", 0, 0, 3},
    };
    checkReader(parseHexByte, rows);
}

TEST_F(FieldsTest, DecimalReaderTable)
{
    const ReaderRow rows[] = {
        {"0", 1, 0, 1},
        {"9", 1, 9, 1},
        {"42", 1, 42, 2},
        {"255", 1, 255, 3},
        {"256", 0, 0, 3},
        {"999", 0, 0, 3},
        {"12.5", 1, 12, 2},
        {"1.5", 1, 1, 1},
        {"1234", 1, 123, 3}, /* the fourth digit is left for the next field */
        {"007", 1, 7, 3},
        {"0127", 1, 12, 3},
        {" ,;.200", 1, 200, 7},
        {"1a", 0, 0, 2},
        {"12a", 0, 0, 3},
        {"a", 0, 0, 1},
        {"", 0, 0, 0},
    };
    checkReader(parseDeziByte, rows);
}

TEST_F(FieldsTest, ReaderStopsAtTerminatorEvenWithTextBehindIt)
{
    /* "5" then the terminator then leftovers of an older, longer line */
    const char old[] = "5\0"
                       "77 88";
    memcpy(gCmdStr, old, sizeof old);
    gCmdPtr = 0;
    uint8_t v = 0;
    ASSERT_EQ(parseHexByte(&v), 1);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(parseHexByte(&v), 0);
    EXPECT_EQ(gCmdPtr, 1);
    EXPECT_EQ(parseDeziByte(&v), 0);
    EXPECT_EQ(gCmdPtr, 1);
}

TEST_F(FieldsTest, ReaderNeverLeavesALineWithoutTerminator)
{
    memset(gCmdStr, '1', sizeof gCmdStr);
    gNumBase = 10;
    gCmdPtr = 0;
    uint8_t v = 0;
    int fields = 0;
    while (parseDeziByte(&v))
        fields++;
    /* 512 digits: 170 fields of three and one of two */
    EXPECT_EQ(fields, 171);
    EXPECT_EQ(v, 11);
    EXPECT_EQ(gCmdPtr, (int32_t)sizeof gCmdStr);
}

enum Field { Nibble, Channel, Id, Data1, Data2 };

struct FieldRow {
    Field field;
    uint8_t base;
    const char *line;
    int ok;
    int stored; /* value of the target afterwards */
};

static int32_t readField(Field f)
{
    switch (f) {
    case Nibble: return parseNibble();
    case Channel: return parseChannel();
    case Id: return parseID();
    case Data1: return parseData1();
    case Data2: return parseData2();
    }
    return -1;
}

static int target(Field f)
{
    switch (f) {
    case Nibble: return gNibble;
    case Channel: return gChannel;
    case Id: return gData1;
    case Data1: return gData1;
    case Data2: return gData2;
    }
    return -1;
}

TEST_F(FieldsTest, FieldReaderTable)
{
    const int kept = 0x55; /* the target's value before the read */
    const FieldRow rows[] = {
        {Channel, 16, "1", 1, 0},
        {Channel, 16, "0", 0, kept},
        {Channel, 16, "10", 1, 15},
        {Channel, 16, "11", 0, kept},
        {Channel, 16, "F", 1, 14},
        {Channel, 10, "16", 1, 15},
        {Channel, 10, "17", 0, kept},
        {Channel, 10, "0", 0, kept},
        {Channel, 7, "16", 1, 15}, /* any base but 16 is decimal */
        {Id, 16, "7F", 1, 0x7F},
        {Id, 16, "FF", 1, 0xFF},
        {Id, 16, "80", 0, kept},
        {Id, 16, "FE", 0, kept},
        {Id, 16, "0", 1, 0},
        {Id, 10, "127", 1, 127},
        {Id, 10, "255", 1, 255},
        {Id, 10, "128", 0, kept},
        {Data1, 16, "7F", 1, 0x7F},
        {Data1, 16, "80", 0, kept},
        {Data1, 10, "127", 1, 127},
        {Data1, 10, "128", 0, kept},
        {Data1, 10, "7F", 0, kept},
        {Data2, 16, "7f", 1, 0x7F},
        {Data2, 16, "80", 0, kept},
        {Data2, 10, "127", 1, 127},
        {Data2, 10, "128", 0, kept},
        {Data2, 16, "", 0, kept},
        {Nibble, 16, "8", 1, 8},
        {Nibble, 16, "7F", 1, 0x7F},
        {Nibble, 16, "80", 0, kept},
        {Nibble, 10, "A", 1, 10}, /* always hexadecimal */
        {Nibble, 10, "10", 1, 16},
        {Nibble, 10, "", 0, kept},
    };
    for (const FieldRow &r : rows) {
        setLine(r.line);
        gNumBase = r.base;
        gNibble = gChannel = gData1 = gData2 = kept;
        EXPECT_EQ(readField(r.field), r.ok)
            << "field " << r.field << " base " << (int)r.base << " '" << r.line << "'";
        EXPECT_EQ(target(r.field), r.stored)
            << "field " << r.field << " base " << (int)r.base << " '" << r.line << "'";
    }
}

TEST_F(FieldsTest, TwoFieldsWithoutSeparator)
{
    setLine("3C40");
    ASSERT_EQ(parseData1(), 1);
    ASSERT_EQ(parseData2(), 1);
    EXPECT_EQ(gData1, 0x3C);
    EXPECT_EQ(gData2, 0x40);
}

} // namespace
