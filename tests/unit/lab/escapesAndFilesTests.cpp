// Label values and XML text escaped as their formats require, and a report replaced as a
// whole: a reader of the folder sees the old file or the new one, never half of one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "lab/textEscapes.h"
#include "platform/platform.h"
#include "util/reportFile.h"

TEST(Escapes, LabelValuesEscapeQuoteBackslashAndLineFeedOnly) {
    EXPECT_EQ(lab::labelValue("a\"b\\c\nd"), "a\\\"b\\\\c\\nd");
    EXPECT_EQ(lab::labelValue("tab\there \xC3\xA9\xE2\x82\xAC"), "tab\there \xC3\xA9\xE2\x82\xAC");
    // Bytes that are not UTF-8 (a lone continuation, an overlong form, a surrogate, a cut
    // sequence) each become U+FFFD.
    EXPECT_EQ(lab::labelValue("\x80|\xC0\xAF|\xED\xA0\x80|\xE2\x82"),
              "\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|"
              "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Escapes, XmlTextKeepsLineBreaksAndDropsWhatXmlCannotHold) {
    EXPECT_EQ(lab::xmlText("<a href='x'>&\"</a>"), "&lt;a href=&apos;x&apos;&gt;&amp;&quot;&lt;/a&gt;");
    EXPECT_EQ(lab::xmlText("one\ntwo\r\tthree"), "one&#10;two&#13;&#9;three");
    EXPECT_EQ(lab::xmlText(std::string("nul\0bell\x07", 9)), "nul\xEF\xBF\xBD"
                                                             "bell\xEF\xBF\xBD");
    EXPECT_EQ(lab::xmlText("\xF0\x9F\x8E\xB5 \xFF"), "\xF0\x9F\x8E\xB5 \xEF\xBF\xBD");
}

TEST(ReportFiles, AReportIsReplacedWholeAndLeavesNothingBeside) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("echoprobe-lab-" + std::to_string(plat::currentThreadId()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path target = folder / "run.prom";
    std::ofstream(target) << "old\n";
    reportFile file(target.u16string(), u"metrics");
    telText why;
    ASSERT_TRUE(file.writable(&why));
    EXPECT_TRUE(fs::exists(target)) << "checking does not remove the older report";
    const std::string text(200000, 'x');
    ASSERT_TRUE(file.write(text, &why));
    std::stringstream read;
    read << std::ifstream(target).rdbuf();
    EXPECT_EQ(read.str(), text);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "a partial file was left";

    // A folder at the name cannot be written, and says so.
    reportFile intoFolder(folder.u16string(), u"metrics");
    EXPECT_FALSE(intoFolder.writable(&why));
    EXPECT_NE(why.find(u"Cannot write the metrics report"), telText::npos);
    fs::remove_all(folder);
}
