#include "NotificationRecorder.h"

#include <cstdio>
#include <gtest/gtest.h>

TEST(NotificationRecorder, LogLineQuotesEveryFieldSoALineIsOneNotification) {
    EXPECT_EQ(NotificationRecorder::logLine(3, "", "", "Controller disconnected.").toStdString(),
              "Notify id=3 app_name=\"\" summary=\"\" body=\"Controller disconnected.\"");
    EXPECT_EQ(NotificationRecorder::logLine(1, "a\"b", "t\\", "two\nlines\tand\r").toStdString(),
              "Notify id=1 app_name=\"a\\\"b\" summary=\"t\\\\\" body=\"two\\nlines\\tand\\r\"");
    EXPECT_EQ(NotificationRecorder::logLine(1, "", "", QString::fromUtf8("caf\xc3\xa9"))
                  .toUtf8()
                  .toStdString(),
              "Notify id=1 app_name=\"\" summary=\"\" body=\"caf\xc3\xa9\"");
}

TEST(NotificationRecorder, IdsAreNeverZeroAndAReplacementKeepsItsId) {
    char *buffer = nullptr;
    std::size_t size = 0;
    std::FILE *log = open_memstream(&buffer, &size);
    {
        NotificationRecorder recorder(log);
        EXPECT_EQ(recorder.Notify("app", 0, "", "", "one", {}, {}, -1), 1u);
        EXPECT_EQ(recorder.Notify("app", 0, "", "", "two", {}, {}, -1), 2u);
        EXPECT_EQ(recorder.Notify("app", 1, "", "", "again", {}, {}, -1), 1u);
        EXPECT_EQ(recorder.Notify("app", 0, "", "", "three", {}, {}, -1), 3u);
    }
    std::fclose(log);
    EXPECT_EQ(std::string(buffer, size),
              "Notify id=1 app_name=\"app\" summary=\"\" body=\"one\"\n"
              "Notify id=2 app_name=\"app\" summary=\"\" body=\"two\"\n"
              "Notify id=1 app_name=\"app\" summary=\"\" body=\"again\"\n"
              "Notify id=3 app_name=\"app\" summary=\"\" body=\"three\"\n");
    std::free(buffer);
}
