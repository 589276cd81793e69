#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "http_server/core/ResponseFormat.h"

namespace vx::rc::core {
namespace {

struct FormatCase {
    int32_t status;
    std::vector<std::pair<std::string, std::string>> fields;
    std::string body;
    std::string expected;
};

TEST(ResponseFormatTest, ProducesStatusLineFieldsLengthAndBody) {
    const FormatCase cases[] = {
        {200, {}, "", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
        {502, {{"Content-Type", "application/json"}}, "{}",
         "HTTP/1.1 502 Bad Gateway\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}"},
        // Map order: the handler's order and spelling, a repeated name joining its first.
        {401, {{"b", "2"}, {"A", "1"}, {"B", "3"}}, "x",
         "HTTP/1.1 401 Unauthorized\r\nb: 2\r\nB: 3\r\nA: 1\r\nContent-Length: 1\r\n\r\nx"},
        // A code outside the table leaves the status text empty.
        {299, {}, "x", "HTTP/1.1 \r\nContent-Length: 1\r\n\r\nx"},
        {-1, {}, "", "HTTP/1.1 \r\nContent-Length: 0\r\n\r\n"},
        // Fields that settle the body's framing suppress the added length.
        {200, {{"CONTENT-LENGTH", "1"}}, "x", "HTTP/1.1 200 OK\r\nCONTENT-LENGTH: 1\r\n\r\nx"},
        {200, {{"Transfer-Encoding", "Chunked"}}, "", "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n"},
        {200, {{"content-type", "Text/Event-Stream"}}, "", "HTTP/1.1 200 OK\r\ncontent-type: Text/Event-Stream\r\n\r\n"},
        // Only the exact values count.
        {200, {{"Transfer-Encoding", "gzip, chunked"}}, "",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\nContent-Length: 0\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        boost::beast::http::fields fields;
        for (const auto& [name, value] : c.fields) {
            fields.insert(name, value);
        }
        EXPECT_EQ(formatResponse(c.status, c.body, fields), c.expected);
    }
}

}  // namespace
}  // namespace vx::rc::core
