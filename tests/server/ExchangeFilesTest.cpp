// Documents are put in place whole: a reader of the response file sees the previous document or
// the next one, never a part.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "Documents.h"
#include "ExchangeFiles.h"
#include "TestSupport.h"

namespace {

using servermod::json;

TEST(ExchangeFiles, AReaderNeverSeesAPartialDocument) {
    testsupport::TempDir dir;
    const std::string path = dir / "response.json";
    const std::string temporary = dir / "response.json.tmp";
    constexpr int kDocuments = 400;

    std::atomic<bool> writing{true};
    int reads = 0;
    int partial = 0;
    int missing = 0;
    std::string example;
    std::thread reader([&] {
        bool seen = false;
        while (writing) {
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                // Once there, the file must never be absent, not even for a moment.
                missing += seen ? 1 : 0;
                continue;
            }
            seen = true;
            std::ostringstream content;
            content << in.rdbuf();
            const std::string text = content.str();
            ++reads;
            const bool whole = !text.empty() && text.back() == '\n' &&
                               json::accept(text.substr(0, text.size() - 1));
            if (!whole) {
                ++partial;
                example = text.substr(0, 80);
            }
        }
    });

    for (int n = 0; n < kDocuments; ++n) {
        // Sizes vary from a few bytes to tens of kilobytes, so a torn write would show.
        json document = {{"N", n},
                         {"PAD", std::string(static_cast<size_t>(n * 7919 % 60000), 'p')}};
        ASSERT_TRUE(servermod::PublishDocument(temporary, path, servermod::Serialise(document)));
    }
    writing = false;
    reader.join();

    EXPECT_GT(reads, 0);
    EXPECT_EQ(partial, 0) << "for example: " << example;
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(json::parse(testsupport::ReadFile(path)).at("N"), kDocuments - 1);
    EXPECT_FALSE(testsupport::FileExists(temporary));
}

}  // namespace
