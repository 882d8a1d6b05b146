// Download workers add records, change their download fields and save while the user-interface
// thread lists the shelf. Run under ThreadSanitizer too (make tsan).
#include "tests/library/LibraryFixture.h"
#include "library/MagShelf.h"

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

using ShelfConcurrencyTest = DataFolderTest;

TEST_F(ShelfConcurrencyTest, WorkersAndListingLeaveWholeFiles) {
    CMagShelf shelf;
    std::atomic<bool> stop{false};
    const auto runFor = std::chrono::seconds(3);

    std::vector<std::thread> workers;
    std::vector<std::set<std::string>> added(4);
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&, w] {
            const char* type = (w % 2) ? "book" : "mag";
            for (int n = 0; !stop.load(); ++n) {
                std::string pid = "w" + std::to_string(w) + "-" + std::to_string(n);
                CMagInfo* p = nullptr;
                if (n % 2) {
                    // As the request worker does with the store's item reply.
                    std::string reply = "<api><booklist><pid>" + pid + "</pid><sort_id>" +
                                        std::to_string(n % 7) + "</sort_id><down>3</down></booklist></api>";
                    p = shelf.AddFromXml(reply.c_str(), type);
                } else {
                    p = new CMagInfo;
                    p->pid = pid.c_str();
                    p->type = type;
                    p->down = DOWN_STATE_WAITING;
                    if (!shelf.Add(p, type, FALSE)) {
                        delete p;
                        p = nullptr;
                    }
                }
                ASSERT_NE(p, nullptr);
                added[w].insert(pid);
                // As the download worker does with its progress and completion.
                for (int step = 1; step <= 3; ++step) {
                    {
                        CMagShelfLock lock(shelf);
                        p->type = type;
                        p->filelen = 3000;
                        p->downlen = step * 1000;
                        p->down = step == 3 ? DOWN_STATE_DONE : DOWN_STATE_LOADING;
                        p->savepath = ("\\dl\\" + pid + ".exe").c_str();
                        p->pic1 = ("\\img\\" + pid + ".jpg").c_str();
                    }
                    shelf.Save(type);
                }
                if (n % 5 == 0)
                    shelf.AddRecentRead(p);
                if (n % 9 == 0) {
                    shelf.Remove(type, pid.c_str());
                    added[w].erase(pid);
                }
            }
        });
    }

    std::thread lister([&] {
        while (!stop.load()) {
            for (const char* kind : {"mag", "book", "mag_read", "book_read"}) {
                CMagInfoList list;
                ASSERT_TRUE(shelf.GetList(kind, list));
                CMagShelfLock lock(shelf);
                for (CMagInfo* p : list) {
                    // What the shelf page builds its listing from.
                    std::string line = std::string(p->pic1) + "," + std::string(p->id) + "," +
                                       std::to_string(p->down) + "," + std::to_string(p->GetPercent()) + "," +
                                       std::string(p->name);
                    (void)line;
                    ASSERT_FALSE(p->pid.IsEmpty());
                }
            }
            shelf.GetSortIdList("mag");
            if (CMagInfo* p = shelf.FindFirstWaiting()) {
                CMagShelfLock lock(shelf);
                (void)p->pid.GetLength();
            }
        }
    });

    std::this_thread::sleep_for(runFor);
    stop = true;
    for (auto& t : workers)
        t.join();
    lister.join();

    // Every file loads whole: the lists on disk are the lists in memory.
    shelf.Save("all");
    CMagShelf reloaded;
    reloaded.LoadAll();
    for (const char* kind : {"mag", "book", "mag_read", "book_read"}) {
        SCOPED_TRACE(kind);
        CMagInfoList mem, disk;
        shelf.GetList(kind, mem);
        reloaded.GetList(kind, disk);
        ASSERT_EQ(mem.GetSize(), disk.GetSize());
        for (INT_PTR i = 0; i < mem.GetSize(); ++i) {
            EXPECT_EQ(mem[i]->pid, disk[i]->pid);
            EXPECT_EQ(disk[i]->down, DOWN_STATE_DONE);
            EXPECT_EQ(disk[i]->downlen, 3000);
            EXPECT_EQ(disk[i]->savepath, "\\dl\\" + std::string(disk[i]->pid) + ".exe");
        }
    }
    std::set<std::string> expected;
    for (auto& s : added)
        expected.insert(s.begin(), s.end());
    std::set<std::string> onShelves;
    for (const char* kind : {"mag", "book"}) {
        CMagInfoList disk;
        reloaded.GetList(kind, disk);
        for (CMagInfo* p : disk)
            onShelves.insert(std::string(p->pid));
    }
    EXPECT_EQ(onShelves, expected);
    EXPECT_GT(expected.size(), 4u);
}
