#include "NetTestServers.h"

namespace pellora::test {

HttpTestServer::HttpTestServer() {
    PutFile(Dir / "doc/index.html", "index");
    PutFile(Dir / "doc/secret/data.txt", "hidden");
    SetReply("Status: 200 OK\r\nContent-Type: text/plain", "");
    PutProgram(Dir / "cgi/reply", "#!/bin/sh\ncat \"$REPLY_FILE\"\n");
    PutProgram(Dir / "cgi/echo", "#!/bin/sh\n"
                                 "printf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
                                 "echo \"METHOD=$REQUEST_METHOD\"\n"
                                 "echo \"QUERY=$QUERY_STRING\"\n"
                                 "env | grep '^HTTP_' | sort\n"
                                 "echo \"CONTENT_TYPE=$CONTENT_TYPE\"\n"
                                 "echo \"CONTENT_LENGTH=$CONTENT_LENGTH\"\n"
                                 "printf 'BODY='; cat\n");
    PutProgram(Dir / "cgi/big", "#!/bin/sh\n"
                                "printf 'Content-Type: application/octet-stream\\r\\n\\r\\n'\n"
                                "head -c \"$QUERY_STRING\" /dev/zero | tr '\\000' 'x'\n");
    LighttpdOptions options;
    options.DocumentRoot = Dir / "doc";
    options.CgiPrefix = "/cgi-bin/";
    options.CgiFolder = Dir / "cgi";
    options.CgiEnvironment["REPLY_FILE"] = Dir / "reply.txt";
    options.AuthPrefix = "/secret/";
    options.AuthUsers = {{"ann", "pw1"}};
    Web = std::make_unique<Lighttpd>(options);
}

void HttpTestServer::SetReply(const std::string& headerLines, const std::string& body) {
    PutFile(Dir / "reply.txt", headerLines + "\r\n\r\n" + body);
}

} // namespace pellora::test
