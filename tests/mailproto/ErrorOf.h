#pragma once
// The message of the protocol error a call raises, or "<no error>".
#include "IdTCPConnection.h"

#include <string>

template <class F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const EIdException& e) {
    return e.what();
  }
  return "<no error>";
}
