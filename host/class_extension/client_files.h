// What the sensor class extension knows of each client file: to which sensors it is connected
// and subscribed, its waits for events, and the events that arrived while it had no wait
// pending. The table has one lock; whatever a change makes due (a wait to complete with an event,
// a wait to end) is handed back as deliveries, which the caller completes after the lock is let
// go, so that no request is completed and no driver code runs under it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "sensor_message.h"
#include "standin/wrl_client.h"
#include "standin/wudfddi.h"

namespace zntr::host {

// Waits a file may have pending at once; one more is refused.
inline constexpr std::size_t kPendingWaitLimit = 4;
// Events a file's queue holds while no wait is pending; at the limit the oldest is dropped and
// counted, and the count travels with the next event the file gets.
inline constexpr std::size_t kEventQueueLimit = 64;

// One posted event, shared by every file that gets it.
struct PostedEvent {
    sensor_message::Event event;  // droppedBefore is filled in per file at delivery
    std::size_t answerBytes = 0;  // the size of its answer message
};

struct SensorLink {
    bool connected = false;
    bool subscribed = false;
};

struct ClientFile {
    Microsoft::WRL::ComPtr<IWDFFile> file;
    // Serialises this file's connects, disconnects, subscriptions and cleanup, which call the
    // driver; held across those calls (and so before the driver's mSensorLock), never taken
    // under the table's lock.
    std::mutex operationLock;

    // The rest is guarded by the table's lock.
    bool removed = false;  // cleaned up: it may not connect or subscribe again
    std::map<std::wstring, SensorLink> links;
    struct Wait {
        Microsoft::WRL::ComPtr<IWDFIoRequest> request;
        std::size_t outputBytes = 0;
    };
    std::deque<Wait> waits;
    std::deque<std::shared_ptr<const PostedEvent>> events;
    std::uint32_t dropped = 0;
};

// A wait to complete: with an event, with the header of an event that did not fit, or ended.
struct Delivery {
    Microsoft::WRL::ComPtr<IWDFIoRequest> request;
    HRESULT status = S_OK;
    std::shared_ptr<const PostedEvent> event;  // with S_OK or kStatusBufferTooSmall
    std::uint32_t droppedBefore = 0;
};
using Deliveries = std::vector<Delivery>;

class ClientFiles {
  public:
    // Opens the table to files (Initialize) or closes it (Uninitialize): closing takes every
    // file out, as their cleanups would, ends their waits with the status and hands the files
    // back, for their links to be undone.
    void Open();
    std::vector<std::shared_ptr<ClientFile>> Close(HRESULT status, Deliveries* deliveries);

    // The file's entry, made on its first request; null while the table is closed.
    std::shared_ptr<ClientFile> Find(IWDFFile* file);
    // Takes the file's entry out (its cleanup) and ends its waits; null when it had none.
    std::shared_ptr<ClientFile> Remove(IWDFFile* file, Deliveries* deliveries);

    SensorLink Link(const ClientFile& file, const std::wstring& sensorId);
    std::map<std::wstring, SensorLink> Links(const ClientFile& file);
    bool Removed(const ClientFile& file);
    void SetConnected(ClientFile& file, const std::wstring& sensorId, bool connected);
    // Subscribing starts the file's events of that sensor; unsubscribing drops those it holds
    // and, when it leaves the file no subscription, ends its waits.
    void SetSubscribed(ClientFile& file, const std::wstring& sensorId, bool subscribed,
                       Deliveries* deliveries);

    // An event of a sensor for each file subscribed to it.
    void Post(const std::wstring& sensorId, const std::shared_ptr<const PostedEvent>& event,
              Deliveries* deliveries);
    // A wait of the file: answered at once from its queue, kept pending, or refused.
    void Wait(ClientFile& file, Microsoft::WRL::ComPtr<IWDFIoRequest> request,
              std::size_t outputBytes, Deliveries* deliveries);

  private:
    // Hands the file's queued events to its pending waits, oldest to oldest.
    static void Drain(ClientFile& file, Deliveries* deliveries);
    static void EndWaits(ClientFile& file, HRESULT status, Deliveries* deliveries);
    static bool Subscribed(const ClientFile& file);

    std::mutex mutex_;
    bool open_ = false;
    std::unordered_map<IWDFFile*, std::shared_ptr<ClientFile>> files_;
};

}  // namespace zntr::host
