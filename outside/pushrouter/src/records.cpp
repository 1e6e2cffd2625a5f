#include "records.h"

#include <cstring>

#include "push_pdu.h"

namespace pushrouter {

using platform::push::WireOp;

namespace {

constexpr char kQueueMagic[4] = {'T', 'P', 'Q', '1'};

platform::push::WireReader ReaderOver(std::string_view data) {
  auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
  return platform::push::WireReader{p, p + data.size()};
}

}  // namespace

bool ParseClientRequest(std::string_view payload, ClientRequest* out) {
  auto r = ReaderOver(payload);
  ClientRequest req;
  req.op = static_cast<WireOp>(r.U8());
  switch (req.op) {
    case WireOp::Open:
      req.type = NormaliseContentType(r.Text());
      req.appId = r.Text();
      if (req.type.empty()) return false;
      break;
    case WireOp::Ack:
      req.seq = r.U32();
      break;
    case WireOp::Inject:
      req.type = NormaliseContentType(r.Text());
      req.body = r.Text();
      if (req.type.empty()) return false;
      break;
    case WireOp::Opened:
    case WireOp::Offer:
    case WireOp::Injected:
      return false;
    default:
      return false;
  }
  if (r.bad || r.p != r.end) return false;
  if (out) *out = std::move(req);
  return true;
}

std::string EncodeQueueFile(std::string_view type, std::string_view body) {
  std::string data(kQueueMagic, sizeof kQueueMagic);
  platform::push::PutText(data, type);
  data.append(body);
  return data;
}

bool ParseQueueFile(std::string_view data, std::string* type, std::string* body) {
  if (data.size() < sizeof kQueueMagic || std::memcmp(data.data(), kQueueMagic, sizeof kQueueMagic) != 0)
    return false;
  auto r = ReaderOver(data.substr(sizeof kQueueMagic));
  std::string t = NormaliseContentType(r.Text());
  if (r.bad || t.empty()) return false;
  if (type) *type = std::move(t);
  if (body) body->assign(reinterpret_cast<const char*>(r.p), static_cast<std::size_t>(r.end - r.p));
  return true;
}

}  // namespace pushrouter
