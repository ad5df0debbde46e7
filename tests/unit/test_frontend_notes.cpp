#include "frontend/frontend.h"

#include <gtest/gtest.h>

struct NoteCase {
    int note;
    const char *name;
};

TEST(NoteNames, FollowOctaveRule)
{
    static const NoteCase cases[] = {
        {0, "C-2"},
        {11, "B-2"},
        {12, "C-1"},
        {13, "C#-1"},
        {23, "B-1"},
        {24, "C"},
        {30, "F#"},
        {34, "Bb"},
        {35, "B"},
        {36, "C 1"},
        {60, "C 3"},
        {63, "D# 3"},
        {69, "A 3"},
        {72, "C 4"},
        {85, "C# 5"},
        {107, "B 6"},
        {108, "C 7"},
        {127, "G 8"},
    };
    fillNoteNames();
    for (const NoteCase &c : cases)
        EXPECT_STREQ(gNotes[c.note], c.name) << "note " << c.note;
}

TEST(NoteNames, AllFitFourCharacters)
{
    fillNoteNames();
    for (int n = 0; n < 128; n++)
        EXPECT_LE(strlen(gNotes[n]), 4u) << "note " << n;
}
