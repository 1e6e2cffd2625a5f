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
  if (isNotification && kind != mms::PushKind::Notification) __builtin_trap();
  if (isReport && kind != mms::PushKind::DeliveryReport) __builtin_trap();
  return 0;
}
