#include "crawl/TCrawlReport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::unique_ptr<_TObjectType> Object(int id, const std::string& url, int size, int status,
                                     const std::string& type, int count) {
    auto r = std::make_unique<_TObjectType>();
    r->Id = id;
    r->Url = url;
    r->Size = size;
    r->Status = status;
    r->ContentType = type;
    r->Count = count;
    r->Kind = KIND_OBJECT;
    return r;
}

struct Report : ::testing::Test {
    std::vector<TGoneRow> pages{{1, 0, "http://h", 120, 200, "text/html"},
                                {-1, 0, "http://h/gone.html", -1, 404, "NotFound"}};
    TRecordMap objects;
    std::vector<TMergedPage> merged{
        {"http://h",
         {{"http://h/a.html", KIND_PAGE, 2, true},
          {"http://other/x", KIND_PAGE, 1, false},
          {"http://h/b.gif", KIND_OBJECT, 3, false}}}};
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("marrowby-report-" + std::to_string(getpid())) / "nested";
    void SetUp() override {
        // Map order is by address; the report is by id.
        objects["http://h/a,b.png"] = Object(2, "http://h/a,b.png", 10, 200, "image/png", 1);
        objects["http://h/b.gif"] = Object(1, "http://h/b.gif", -1, 404, "Not Found", 3);
    }
    void TearDown() override { std::filesystem::remove_all(dir.parent_path()); }
    TCrawlReportData Data() const { return {pages, objects, merged}; }
};

TEST_F(Report, WritesTheThreeFiles) {
    ASSERT_EQ(TCrawlReport::Write(Data(), dir.string()), "");
    EXPECT_EQ(Slurp(dir / "pages.csv"), "Id,Depth,URI,Size,Status,Type\r\n"
                                        "1,0,http://h,120,200,text/html\r\n"
                                        "-1,0,http://h/gone.html,-1,404,NotFound\r\n");
    EXPECT_EQ(Slurp(dir / "objects.csv"), "Id,URI,Size,Status,Type,Count\r\n"
                                          "1,http://h/b.gif,-1,404,Not Found,3\r\n"
                                          "2,\"http://h/a,b.png\",10,200,image/png,1\r\n");
    EXPECT_EQ(Slurp(dir / "links.csv"), "Page,Kind,URI,Count,Scope\r\n"
                                        "http://h,anchor,http://h/a.html,2,internal\r\n"
                                        "http://h,anchor,http://other/x,1,external\r\n"
                                        "http://h,object,http://h/b.gif,3,\r\n");
}

TEST_F(Report, ReportsWhereItCannotWrite) {
    std::filesystem::create_directories(dir.parent_path());
    std::ofstream(dir.string()) << "a file where the folder should be";
    EXPECT_NE(TCrawlReport::Write(Data(), dir.string()), "");
}

TEST_F(Report, BrokenRowsAreStatusesOf400OrMore) {
    EXPECT_TRUE(TCrawlReport::HasBrokenRows(Data()));
    pages.pop_back();
    EXPECT_TRUE(TCrawlReport::HasBrokenRows(Data())); // the 404 object
    objects["http://h/b.gif"]->Status = 399;
    EXPECT_FALSE(TCrawlReport::HasBrokenRows(Data()));
    pages[0].Status = 500;
    EXPECT_TRUE(TCrawlReport::HasBrokenRows(Data()));
}

} // namespace
