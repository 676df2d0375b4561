// AMF0: values as NetConnection.call encodes them for a remoting server, and the request that
// carries a frame's calls.
#pragma once

#include <string>
#include <vector>

#include "swf/avm1/value.h"

namespace dbx::swf::avm1 {

class Vm;

// One value (cycles become references; nesting is bounded).
std::string EncodeAmf0(Vm& vm, const Value& v);

struct RemotingCall {
  std::string method;    // the service's method ("service.method")
  std::string response;  // where the answer goes ("/1", "/2", ...)
  std::vector<Value> args;
};
// One call as a message of a request (its values read now).
std::string RemotingMessage(Vm& vm, const RemotingCall& call);
// A request of messages: version 0, no headers, the messages in order.
std::string RemotingRequest(const std::vector<std::string>& messages);

}  // namespace dbx::swf::avm1
