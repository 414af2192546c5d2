// Error words and their messages.
#include "fileengine/CopyErrors.h"

#include <gtest/gtest.h>

using namespace kes;

namespace {

TEST(CopyErrorText, WordsFileNamesAndInfo)
{
    struct Case {
        int word;
        QString file, info, text;
    } cases[] = {
        {0x1101, "F", "", "Error - Could not create file: \"F\" (-> Copy)"},
        {0x1101, "", "", "Error - Could not create file (-> Copy)"},
        {0x2080, "", "", "Terminated by user (-> gzip)"},
        {0x120F, "", "", "Warning - Timestamp could not be set (-> Copy)"},
        {0x0127, "", "", "Error - Unknown error code ($00000127)"},
        {0x1100, "", "", "Success (-> Copy)"},
        {0x0300 + 9, "a.txt", "", "Error(2) - Corrupt file: \"a.txt\""},
        {0x410C, "a.zip", "details", "Error - Verification failed: \"a.zip\" (details) (-> Zip)"},
        {0x010E, "x", "why", "Error - File not found: \"x\" (why)"},
        {0x7000 + 40, "", "", "Invalid zip format (-> Unzip)"},
        {0x8000 + 7, "f", "", "Low disk space: \"f\""},
        {0x3000 + 22, "", "", "Could not open destination file for verification (-> gunzip)"},
        {0x6123, "", "", "Error - Could not rename temporary file (-> Decrypt)"},
        {0x0000 + 200, "", "", "Unknown error code ($000000C8)"},
        {0x5225, "%s", "", "Warning - Error copying alternate data streams: \"%s\" (-> Encrypt)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(CopyErrorText(c.word, c.file, c.info), c.text);
    }
}

} // namespace
