// Loading and saving a site database of 10,000 sites (sites.ini): prints the
// time of each step and the file size.
#include "sites/SiteDb.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/";
    QElapsedTimer t;

    TSiteDatabase db;
    db.Load(path);
    t.start();
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        TSiteRecord r;
        r.Name = "Site " + std::to_string(i);
        r.IP = "ftp" + std::to_string(i) + ".example.org";
        r.User = "user" + std::to_string(i);
        r.SetPassword("password" + std::to_string(i));
        r.RemoteDir = "/pub/" + std::to_string(i);
        r.Comment = {"first line", "second line"};
        db.WriteSite(r);
        names.push_back(r.Name);
    }
    db.WriteGroupSites("Group", names);
    db.WriteGroups({"Group"});
    const double build = t.nsecsElapsed() / 1e6;
    t.restart();
    if (!db.SaveSites()) {
        std::fprintf(stderr, "save failed: %s\n", db.LastError().c_str());
        return 1;
    }
    const double save = t.nsecsElapsed() / 1e6;

    t.restart();
    TSiteDatabase again;
    again.Load(path);
    const double load = t.nsecsElapsed() / 1e6;
    t.restart();
    int found = 0;
    for (const std::string& name : again.GroupSites("Group"))
        found += again.ReadSite(name) && again.SiteExists(name) ? 1 : 0;
    const double read = t.nsecsElapsed() / 1e6;
    t.restart();
    again.SaveSites();
    const double resave = t.nsecsElapsed() / 1e6;

    std::printf(
        "sites: %d (read back %d)\nbuild in memory: %.1f ms\nsave: %.1f ms\nload: %.1f ms\n"
        "read every site: %.1f ms\nsave again: %.1f ms\n",
        count, found, build, save, load, read, resave);
    return found == count ? 0 : 1;
}
