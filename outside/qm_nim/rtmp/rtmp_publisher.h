// Publishes the room's sound to an RTMP address as AAC in FLV (GStreamer:
// appsrc, AAC encoder, FLV muxer, RTMP sink). Samples are pushed at the pace
// the room plays; a failure is logged once and the publisher goes quiet,
// without touching the call.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

typedef struct _GstElement GstElement;

namespace qmnim::rtmp {

class RtmpPublisher {
public:
    // Starts publishing to `url`; false (logged) when the pipeline cannot be made.
    explicit RtmpPublisher(std::string url);
    ~RtmpPublisher();
    RtmpPublisher(const RtmpPublisher&) = delete;
    RtmpPublisher& operator=(const RtmpPublisher&) = delete;

    bool ok() const { return pipeline_ != nullptr && !failed_.load(); }
    // 48 kHz mono samples, in order; never blocks (a stalled sink drops sound).
    void Push(const std::int16_t* samples, size_t count);
    // Whether the RTMP sink has connected and is taking data.
    std::uint64_t samplesPushed() const { return pushed_.load(); }

private:
    void WatchBus();
    // A message of the media library, safe for the log.
    std::string ErrorForLog(const char* message) const;

    const std::string url_;
    GstElement* pipeline_ = nullptr;
    GstElement* source_ = nullptr;
    std::thread watcher_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> failed_{false};
    std::atomic<std::uint64_t> pushed_{0};
    std::mutex pushLock_;
};

// What a log line may say of an address: its scheme, host and port, escaped;
// the path and the query, which carry the stream key, are left out.
std::string RedactUrl(const std::string& url);

}  // namespace qmnim::rtmp
