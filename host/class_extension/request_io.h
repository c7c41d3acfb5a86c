// A framework request's buffers as the class extension uses them: the message in its input
// memory, the answer written to its output memory, and the one completion every request gets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sensor_message.h"
#include "standin/wrl_client.h"
#include "standin/wudfddi.h"

namespace zntr::host {

// The request's input bytes; they stay valid while the holder keeps the memory object.
std::span<const std::uint8_t> InputOf(IWDFIoRequest* request,
                                      Microsoft::WRL::ComPtr<IWDFMemory>* holder);
// The size of the request's output buffer; 0 when it has none.
std::size_t OutputCapacityOf(IWDFIoRequest* request);

// Writes the answer into the output buffer and completes the request with S_OK and the bytes
// written. An answer that does not fit is not cut: with room for a header, the header of a
// kStatusBufferTooSmall answer naming the body the answer needs is written instead; with less
// room the request is completed with kStatusBufferTooSmall and no bytes.
void CompleteWithAnswer(IWDFIoRequest* request, const std::vector<std::uint8_t>& answer);

// Completes the request with a refusal: the failure status and no bytes, which is all that a
// failed buffered request delivers.
void CompleteWithRefusal(IWDFIoRequest* request, HRESULT status);

}  // namespace zntr::host
