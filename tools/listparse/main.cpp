// listparse: runs listing lines through the parser, one "TYPE<TAB>LINE" per
// input line, and prints "-" or the entry's Name, Size, IsDir, IsLink, Owner,
// Group and Date separated by tabs. Lines go through one parser in order, so
// a VMS name line and its continuation work as on a server.
#include "ftp/Parser.h"

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char**)
{
    if (argc > 1) {
        std::fputs(
            "Usage: listparse < LINES\n"
            "Each input line is TYPE<TAB>LINE, TYPE a server type name without\n"
            "its ftpst prefix (UNIX, Win2K, VmsUcx, MVS, Netware, OS2, ...).\n"
            "Prints NAME SIZE ISDIR ISLINK OWNER GROUP DATE, tab-separated (a tab or\n"
            "backslash in NAME as \\t or \\\\), or \"-\"\n"
            "for a line that is no entry; SIZE is empty when unknown, DATE is\n"
            "\"yyyy-MM-dd HH:mm\", \"yyyy-MM-dd\", \"fallback\" or empty.\n",
            stderr);
        return 2;
    }
    TListParser parser;
    std::string input;
    int status = 0;
    while (std::getline(std::cin, input)) {
        if (!input.empty() && input.back() == '\r')
            input.pop_back();
        const size_t tab = input.find('\t');
        TFTPServerType type = ftpstDefault;
        if (tab == std::string::npos || !ServerTypeFromName(input.substr(0, tab), type)) {
            std::fprintf(stderr, "listparse: not TYPE<TAB>LINE: %s\n", input.c_str());
            std::puts("-");
            status = 1;
            continue;
        }
        if (parser.VmsPendingLine.empty())
            parser.BeginListing();
        TRemoteEntry e;
        if (!parser.ParseListLine(type, input.substr(tab + 1), e)) {
            std::puts("-");
            continue;
        }
        const std::string size = e.Size >= 0 ? std::to_string(e.Size) : std::string();
        // Tabs and backslashes in a name are escaped, so that columns stay.
        std::string name;
        for (const char c : e.Name)
            name += c == '\t' ? std::string("\\t") : c == '\\' ? std::string("\\\\") : std::string(1, c);
        std::printf("%s\t%s\t%d\t%d\t%s\t%s\t%s\n", name.c_str(), size.c_str(), e.IsDir ? 1 : 0, e.IsLink ? 1 : 0,
                    e.Owner.c_str(), e.Group.c_str(), ListText::DateKey(e.Date).c_str());
    }
    return status;
}
