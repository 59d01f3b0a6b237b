#pragma once
// Counts the GStreamer objects alive in the process (elements, pads, buses,
// clocks, messages, buffers, caps, events...) by type, through GStreamer's
// tracing hooks. Only objects made after the first census are seen, so a
// census taken after a warm-up compares exactly with a later one: a graph
// that leaves anything behind shows up as a count, not as a guess from the
// resident size.
#include <gst/gst.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/dshow/GstSupport.h"

namespace gsttest {

// Type name -> number of live objects of that type.
using CCensus = std::map<std::string, int>;

class CLiveObjects {
public:
    // Starts counting (once per process) and answers the objects alive now.
    static CCensus Census() {
        CLiveObjects& self = Instance();
        std::lock_guard guard(self.m_lock);
        CCensus census;
        for (const auto& [object, type] : self.m_live)
            ++census[g_type_name(type)];
        return census;
    }

    // Waits (bounded) until no more objects are alive than the census
    // counted, and answers the census then. A streaming thread lets go of
    // its task a moment after the pipeline has stopped it, so a count taken
    // right after a graph is released may still include that task.
    static CCensus CensusNoLargerThan(const CCensus& limit, int timeoutMs = 5000) {
        size_t most = 0;
        for (const auto& [type, count] : limit)
            most += size_t(count);
        CLiveObjects& self = Instance();
        {
            std::unique_lock guard(self.m_lock);
            self.m_shrunk.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                   [&] { return self.m_live.size() <= most; });
        }
        return Census();
    }

private:
    CLiveObjects() {
        vagst::EnsureInit();
        // The hooks point at the tracer, so it lives as long as the process.
        GType type = g_type_register_static_simple(GST_TYPE_TRACER, "VaTestLiveObjectCounter",
                                                   sizeof(GstTracerClass), nullptr,
                                                   sizeof(GstTracer), nullptr, GTypeFlags(0));
        auto* tracer = GST_TRACER(gst_object_ref_sink(g_object_new(type, nullptr)));
        gst_tracing_register_hook(tracer, "object-created", G_CALLBACK(ObjectCreated));
        gst_tracing_register_hook(tracer, "object-destroyed", G_CALLBACK(ObjectDestroyed));
        gst_tracing_register_hook(tracer, "mini-object-created", G_CALLBACK(MiniObjectCreated));
        gst_tracing_register_hook(tracer, "mini-object-destroyed", G_CALLBACK(MiniObjectDestroyed));
    }
    static CLiveObjects& Instance() {
        static CLiveObjects* instance = new CLiveObjects();
        return *instance;
    }

    void Add(const void* object, GType type) {
        try {
            std::lock_guard guard(m_lock);
            m_live[object] = type;
        } catch (...) {
        }
    }
    void Remove(const void* object) {
        {
            std::lock_guard guard(m_lock);
            m_live.erase(object);
        }
        m_shrunk.notify_all();
    }
    static void ObjectCreated(GObject*, GstClockTime, GstObject* object) {
        Instance().Add(object, G_OBJECT_TYPE(object));
    }
    static void ObjectDestroyed(GObject*, GstClockTime, GstObject* object) {
        Instance().Remove(object);
    }
    static void MiniObjectCreated(GObject*, GstClockTime, GstMiniObject* object) {
        Instance().Add(object, GST_MINI_OBJECT_TYPE(object));
    }
    static void MiniObjectDestroyed(GObject*, GstClockTime, GstMiniObject* object) {
        Instance().Remove(object);
    }

    std::mutex m_lock;
    std::condition_variable m_shrunk;
    std::unordered_map<const void*, GType> m_live;
};

inline int Total(const CCensus& census) {
    int total = 0;
    for (const auto& [type, count] : census)
        total += count;
    return total;
}

// "GstMessage +50, GstPipeline +1": the types whose counts changed.
inline std::string CensusChange(const CCensus& before, const CCensus& after) {
    std::map<std::string, int> change;
    for (const auto& [type, count] : after)
        change[type] += count;
    for (const auto& [type, count] : before)
        change[type] -= count;
    std::string text;
    for (const auto& [type, delta] : change) {
        if (delta == 0)
            continue;
        if (!text.empty())
            text += ", ";
        text += type + (delta > 0 ? " +" : " ") + std::to_string(delta);
    }
    return text.empty() ? "none" : text;
}

}  // namespace gsttest
