#include "outside/qm_nim/rtmp/rtmp_publisher.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include "common/log_record.h"
#include "common/log_text.h"
#include "outside/qm_nim/audio/audio_format.h"

namespace qmnim::rtmp {
namespace {

constexpr const char kLogSource[] = "qm_nim\\RtmpPublisher";

// The element that says which encoder this machine has.
const char* AacEncoder() {
    for (const char* name : {"voaacenc", "avenc_aac", "fdkaacenc"}) {
        if (GstElementFactory* f = gst_element_factory_find(name)) {
            gst_object_unref(f);
            return name;
        }
    }
    return nullptr;
}

}  // namespace

std::string RtmpPublisher::ErrorForLog(const char* message) const {
    // The library's messages may quote the address, key and all.
    std::string text = message ? message : "";
    for (size_t at = text.find(url_); !url_.empty() && at != std::string::npos; at = text.find(url_, at + 1))
        text.replace(at, url_.size(), RedactUrl(url_));
    return PageTextForLog(MaskUrlsIn(text));
}

std::string RedactUrl(const std::string& url) {
    // User information, query and fragment are hidden as everywhere in the log;
    // the path goes too. What is left is escaped like any text from a page.
    std::string masked = MaskUrl(url);
    size_t scheme = masked.find("://");
    size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    size_t end = masked.find_first_of("/?#", start);
    std::string shown = masked.substr(0, end);
    if (end != std::string::npos) shown += "/...";
    return PageTextForLog(shown, 256);
}

RtmpPublisher::RtmpPublisher(std::string url) : url_(std::move(url)) {
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        QM_LOG(kLogSource) << "<qm_nim> publishing to " << RedactUrl(url_)
                           << " impossible: GStreamer does not start: " << ErrorForLog(error ? error->message : "?");
        if (error) g_error_free(error);
        return;
    }
    const char* encoder = AacEncoder();
    GstElement* sink = gst_element_factory_make("rtmp2sink", nullptr);
    if (!sink) sink = gst_element_factory_make("rtmpsink", nullptr);
    if (!encoder || !sink) {
        QM_LOG(kLogSource) << "<qm_nim> publishing to " << RedactUrl(url_)
                           << " impossible: no AAC encoder or RTMP sink installed";
        if (sink) gst_object_unref(sink);
        return;
    }
    pipeline_ = gst_pipeline_new("qm-room-publish");
    source_ = gst_element_factory_make("appsrc", nullptr);
    GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
    GstElement* aac = gst_element_factory_make(encoder, nullptr);
    GstElement* parse = gst_element_factory_make("aacparse", nullptr);
    GstElement* mux = gst_element_factory_make("flvmux", nullptr);
    if (!pipeline_ || !source_ || !convert || !aac || !parse || !mux) {
        QM_LOG(kLogSource) << "<qm_nim> publishing to " << RedactUrl(url_) << " impossible: GStreamer elements missing";
        for (GstElement* e : {source_, convert, aac, parse, mux, sink})
            if (e) gst_object_unref(e);
        if (pipeline_) gst_object_unref(pipeline_);
        pipeline_ = source_ = nullptr;
        return;
    }
    GstCaps* caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "rate", G_TYPE_INT,
                                        audio::kSampleRate, "channels", G_TYPE_INT, 1, "layout", G_TYPE_STRING,
                                        "interleaved", nullptr);
    g_object_set(source_, "caps", caps, "format", GST_FORMAT_TIME, "is-live", TRUE, "do-timestamp", FALSE,
                 "max-bytes", static_cast<guint64>(audio::kSampleRate * 2), "block", FALSE, nullptr);
    gst_caps_unref(caps);
    g_object_set(aac, "bitrate", 64000, nullptr);
    g_object_set(mux, "streamable", TRUE, nullptr);
    g_object_set(sink, "location", url_.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline_), source_, convert, aac, parse, mux, sink, nullptr);
    if (!gst_element_link_many(source_, convert, aac, parse, mux, sink, nullptr)) {
        QM_LOG(kLogSource) << "<qm_nim> publishing to " << RedactUrl(url_) << " impossible: pipeline does not link";
        gst_object_unref(pipeline_);
        pipeline_ = source_ = nullptr;
        return;
    }
    gst_object_ref(source_);
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        QM_LOG(kLogSource) << "<qm_nim> publishing to " << RedactUrl(url_) << " failed to start";
        failed_.store(true);
    }
    QM_LOG(kLogSource) << "<qm_nim> publishing the room to " << RedactUrl(url_);
    watcher_ = std::thread([this] { WatchBus(); });
}

RtmpPublisher::~RtmpPublisher() {
    stopping_.store(true);
    if (watcher_.joinable()) watcher_.join();
    if (pipeline_) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(source_);
        gst_object_unref(pipeline_);
    }
}

void RtmpPublisher::WatchBus() {
    GstBus* bus = gst_element_get_bus(pipeline_);
    while (!stopping_.load()) {
        GstMessage* m = gst_bus_timed_pop_filtered(bus, 100 * GST_MSECOND,
                                                   static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
        if (!m) continue;
        if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR && !failed_.exchange(true)) {
            GError* error = nullptr;
            gst_message_parse_error(m, &error, nullptr);
            QM_LOG(kLogSource) << "<qm_nim> publishing to " << RedactUrl(url_)
                               << " stopped: " << ErrorForLog(error ? error->message : "unknown error");
            if (error) g_error_free(error);
        }
        gst_message_unref(m);
    }
    gst_object_unref(bus);
}

void RtmpPublisher::Push(const std::int16_t* samples, size_t count) {
    if (!pipeline_ || failed_.load() || count == 0) return;
    std::lock_guard<std::mutex> lock(pushLock_);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, count * sizeof(std::int16_t), nullptr);
    gst_buffer_fill(buffer, 0, samples, count * sizeof(std::int16_t));
    std::uint64_t at = pushed_.load();
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(at, GST_SECOND, audio::kSampleRate);
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(count, GST_SECOND, audio::kSampleRate);
    pushed_.store(at + count);
    gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);  // takes the buffer
}

}  // namespace qmnim::rtmp
