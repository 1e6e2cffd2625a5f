// Push bodies as the push router hands them over: classification and both decoders.
#include <cstddef>
#include <cstdint>

#include "mms/mms_pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const mms::PushKind kind = mms::ClassifyPush(data, size);
  mms::MmsHeaders headers;
  mms::NotificationInfo notification;
  mms::DeliveryInfo delivery;
  const bool isNotification = mms::DecodeNotification(headers, data, size, notification);
  const bool isReport = mms::DecodeDeliveryReport(headers, data, size, delivery);
  // The classifier looks at the first message type only, the decoders at the last one, so the
  // two may differ on PDUs that repeat the field; but nothing too short to classify decodes.
  if (kind == mms::PushKind::Error && (isNotification || isReport)) __builtin_trap();
  if (isNotification && isReport) __builtin_trap();
  return 0;
}
