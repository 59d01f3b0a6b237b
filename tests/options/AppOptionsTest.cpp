// The option store: cache, pending deletions, listeners and flushing, over
// a storage that records what it is asked to do.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "options/AppOptions.h"

namespace {

class CFakeStorage : public CAppOptStg {
public:
    struct CLog {
        std::map<std::string, std::string> values;  // "section|name" -> "kind:value"
        std::vector<std::string> calls;
        int reads = 0;
        int commits = 0;
    };
    explicit CFakeStorage(CLog& log) : m_log(log) {}

    void WriteInt(const std::string& s, const std::string& n, int32_t v) override {
        Put(s, n, "int:" + std::to_string(v));
    }
    void WriteString(const std::string& s, const std::string& n, const std::string& v) override {
        Put(s, n, "str:" + v);
    }
    void WriteStream(const std::string& s, const std::string& n, IStream*) override {
        Put(s, n, "stream");
    }
    CAppOpt Read(const std::string& s, const std::string& n, const CAppOpt& def) override {
        ++m_log.reads;
        auto it = m_log.values.find(s + "|" + n);
        if (it == m_log.values.end())
            return def;
        const std::string& v = it->second;
        if (v.rfind("int:", 0) == 0)
            return CAppOpt(int32_t(std::stoi(v.substr(4))));
        return CAppOpt(v.substr(4));
    }
    void EnumValues(const std::string& s, std::vector<std::string>& names) override {
        for (const auto& [key, v] : m_log.values)
            if (key.rfind(s + "|", 0) == 0)
                names.push_back(key.substr(s.size() + 1));
    }
    void DeleteValue(const std::string& s, const std::string& n) override {
        m_log.calls.push_back("delete " + s + "|" + n);
        m_log.values.erase(s + "|" + n);
    }
    void DeleteKey(const std::string& s) override { m_log.calls.push_back("deletekey " + s); }
    void Commit() override { ++m_log.commits; }

private:
    void Put(const std::string& s, const std::string& n, const std::string& v) {
        m_log.calls.push_back("write " + s + "|" + n + "=" + v);
        m_log.values[s + "|" + n] = v;
    }
    CLog& m_log;
};

class CRecorder : public IAppOptNotify {
public:
    void OnOptionChanged(const CAppOpt& value, const std::string& section, const std::string& name,
                         uint32_t cookie) override {
        events.push_back("changed " + section + "|" + name + "=" + value.GetString() + " #" +
                         std::to_string(cookie));
        if (onChange)
            onChange();
    }
    void OnOptionDeleted(const std::string& section, const std::string& name,
                         uint32_t cookie) override {
        events.push_back("deleted " + section + "|" + name + " #" + std::to_string(cookie));
    }
    std::vector<std::string> events;
    std::function<void()> onChange;
};

class AppOptionsTest : public ::testing::Test {
protected:
    CFakeStorage::CLog m_log;
    CAppOptions m_options{std::make_unique<CFakeStorage>(m_log)};
};

TEST_F(AppOptionsTest, ReadsAreCachedAndEmptySectionMeansSettings) {
    m_log.values["Settings|Scale"] = "int:2";
    EXPECT_EQ(m_options.GetOption("", "Scale", CAppOpt(int32_t(1))).GetInt(), 2);
    EXPECT_EQ(m_options.GetOption("Settings", "Scale", CAppOpt(int32_t(1))).GetInt(), 2);
    EXPECT_EQ(m_log.reads, 1);
    EXPECT_EQ(m_options.GetOption("Other", "Missing", CAppOpt("def")).GetString(), "def");

    m_options.SetOption("", "Name", CAppOpt("v"));
    m_options.Flush();
    EXPECT_EQ(m_log.values["Settings|Name"], "str:v");
    EXPECT_EQ(m_log.commits, 1);
}

TEST_F(AppOptionsTest, SettingTheSameValueNotifiesNobodyAndMarksNothing) {
    CRecorder rec;
    m_options.Advise("", "", &rec, 1);
    m_options.SetOption("S", "N", CAppOpt(int32_t(5)));
    m_options.Flush();
    m_log.calls.clear();
    rec.events.clear();

    m_options.SetOption("S", "N", CAppOpt(int32_t(5)));
    EXPECT_TRUE(rec.events.empty());
    EXPECT_FALSE(m_options.IsModified());
    m_options.Flush();
    EXPECT_TRUE(m_log.calls.empty());
    EXPECT_EQ(m_log.commits, 1);
}

TEST_F(AppOptionsTest, ADeletedOptionReadsAsTheDefaultBeforeFlush) {
    m_log.values["S|N"] = "str:old";
    EXPECT_EQ(m_options.GetOption("S", "N").GetString(), "old");
    m_options.DeleteOption("S", "N");
    EXPECT_EQ(m_options.GetOption("S", "N", CAppOpt("def")).GetString(), "def");
    EXPECT_EQ(m_log.values["S|N"], "str:old");  // storage untouched until Flush
    m_options.Flush();
    EXPECT_EQ(m_log.values.count("S|N"), 0u);

    // Setting it again takes it out of the deletion set.
    m_options.DeleteOption("S", "M");
    m_options.SetOption("S", "M", CAppOpt("new"));
    m_options.Flush();
    EXPECT_EQ(m_log.calls.back(), "write S|M=str:new");
    EXPECT_EQ(std::count(m_log.calls.begin(), m_log.calls.end(), "delete S|M"), 0);
}

TEST_F(AppOptionsTest, FlushDeletesFirstThenWritesDirtyValuesOnce) {
    m_options.SetOption("A", "x", CAppOpt(true));
    m_options.SetOption("A", "y", CAppOpt("s"));
    m_options.DeleteOption("B", "");
    m_options.DeleteOption("A", "z");
    m_options.GetOption("A", "read");
    m_options.Flush();
    EXPECT_EQ(m_log.calls, (std::vector<std::string>{"delete A|z", "deletekey B", "write A|x=int:1",
                                                     "write A|y=str:s"}));
    m_log.calls.clear();
    m_options.Flush();
    EXPECT_TRUE(m_log.calls.empty());
}

TEST_F(AppOptionsTest, ListenersHearWhatTheirFiltersLetThrough) {
    CRecorder all, section, one, thrower;
    thrower.onChange = [] { throw std::runtime_error("listener failed"); };
    m_options.Advise("", "", &thrower, 9);
    m_options.Advise("", "", &all, 1);
    m_options.Advise("S", "", &section, 2);
    m_options.Advise("S", "N", &one, 3);

    m_options.SetOption("S", "N", CAppOpt("a"));
    m_options.SetOption("S", "M", CAppOpt("b"));
    m_options.SetOption("", "N", CAppOpt("c"));
    m_options.DeleteOption("S", "N");

    EXPECT_EQ(all.events, (std::vector<std::string>{"changed S|N=a #1", "changed S|M=b #1",
                                                    "changed Settings|N=c #1", "deleted S|N #1"}));
    EXPECT_EQ(section.events,
              (std::vector<std::string>{"changed S|N=a #2", "changed S|M=b #2", "deleted S|N #2"}));
    EXPECT_EQ(one.events, (std::vector<std::string>{"changed S|N=a #3", "deleted S|N #3"}));

    m_options.Unadvise(&all);
    m_options.SetOption("S", "N", CAppOpt("d"));
    EXPECT_EQ(all.events.size(), 4u);
    EXPECT_EQ(one.events.size(), 3u);
}

TEST_F(AppOptionsTest, AListenerMayUnadviseAnotherWhileBeingTold) {
    CRecorder first, second;
    first.onChange = [&] { m_options.Unadvise(&second); };
    m_options.Advise("", "", &first, 1);
    m_options.Advise("", "", &second, 2);
    m_options.SetOption("S", "N", CAppOpt("x"));
    EXPECT_EQ(first.events.size(), 1u);
    EXPECT_TRUE(second.events.empty());
}

TEST_F(AppOptionsTest, EnumOptionsMergesStorageCacheAndDeletions) {
    m_log.values["S|stored"] = "str:1";
    m_log.values["S|gone"] = "str:2";
    m_options.DeleteOption("S", "gone");
    m_options.SetOption("S", "new", CAppOpt("3"));
    m_options.SetOption("S", "Stored", CAppOpt("4"));  // already listed, in another case
    m_options.SetOption("T", "other", CAppOpt("5"));
    std::vector<std::string> names;
    m_options.EnumOptions("S", names);
    EXPECT_EQ(names, (std::vector<std::string>{"stored", "new"}));
}

TEST_F(AppOptionsTest, SectionAndNameAreNeverMixedUp) {
    m_options.SetOption("a#b", "c", CAppOpt("1"));
    m_options.SetOption("a", "b#c", CAppOpt("2"));
    m_options.Flush();
    EXPECT_EQ(m_log.values["a#b|c"], "str:1");
    EXPECT_EQ(m_log.values["a|b#c"], "str:2");
}

}  // namespace
