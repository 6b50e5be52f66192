#include "NotificationRecorder.h"

#include <cstdio>
#include <gtest/gtest.h>

TEST(NotificationRecorder, LogLineQuotesEveryFieldSoALineIsOneNotification) {
    EXPECT_EQ(NotificationRecorder::logLine(3, "", "", "Controller disconnected.").toStdString(),
              "Notify id=3 app_name=\"\" summary=\"\" body=\"Controller disconnected.\" "
              "app_icon=\"\" expire_timeout=-1 desktop_entry=\"\"");
    EXPECT_EQ(NotificationRecorder::logLine(1, "a\"b", "t\\", "two\nlines\tand\r").toStdString(),
              "Notify id=1 app_name=\"a\\\"b\" summary=\"t\\\\\" body=\"two\\nlines\\tand\\r\" "
              "app_icon=\"\" expire_timeout=-1 desktop_entry=\"\"");
    EXPECT_EQ(NotificationRecorder::logLine(1, "", "", QString::fromUtf8("caf\xc3\xa9"))
                  .toUtf8()
                  .toStdString(),
              "Notify id=1 app_name=\"\" summary=\"\" body=\"caf\xc3\xa9\" app_icon=\"\" "
              "expire_timeout=-1 desktop_entry=\"\"");
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
    EXPECT_EQ(std::string(buffer, size), "Notify id=1 app_name=\"app\" summary=\"\" body=\"one\" "
                                         "app_icon=\"\" expire_timeout=-1 desktop_entry=\"\"\n"
                                         "Notify id=2 app_name=\"app\" summary=\"\" body=\"two\" "
                                         "app_icon=\"\" expire_timeout=-1 desktop_entry=\"\"\n"
                                         "Notify id=1 app_name=\"app\" summary=\"\" body=\"again\" "
                                         "app_icon=\"\" expire_timeout=-1 desktop_entry=\"\"\n"
                                         "Notify id=3 app_name=\"app\" summary=\"\" body=\"three\" "
                                         "app_icon=\"\" expire_timeout=-1 desktop_entry=\"\"\n");
    std::free(buffer);
}

TEST(NotificationRecorder, ALineCarriesTheIconTheExpiryAndTheDesktopEntryHint) {
    char *buffer = nullptr;
    std::size_t size = 0;
    std::FILE *log = open_memstream(&buffer, &size);
    {
        NotificationRecorder recorder(log);
        recorder.Notify("Game", 0, "/Applications/Game.app/icon.png", "Game", "Hi", {},
                        {{"desktop-entry", "com.example.game"}, {"urgency", 1}}, 5000);
    }
    std::fclose(log);
    EXPECT_EQ(std::string(buffer, size),
              "Notify id=1 app_name=\"Game\" summary=\"Game\" body=\"Hi\" "
              "app_icon=\"/Applications/Game.app/icon.png\" expire_timeout=5000 "
              "desktop_entry=\"com.example.game\"\n");
    std::free(buffer);
}
