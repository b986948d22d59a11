// Credentials that a request carries in its "Authorization" (or "Proxy-Authorization") header.
#pragma once

#include <string>

#include "rtl/SysUtils.h"

class TIdAuthentication : public TObject {
 public:
  const std::string& Username() const { return username_; }
  void SetUsername(const std::string& value) { username_ = value; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& value) { password_ = value; }

  // The header value that carries the credentials; empty when there is nothing to send.
  virtual std::string Authentication() const = 0;

 private:
  std::string username_;
  std::string password_;
};

// "Basic " and the standard Base64 encoding of the user name, ":" and the password.
class TIdBasicAuthentication : public TIdAuthentication {
 public:
  std::string Authentication() const override;
};

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string EncodeBase64(const std::string& data);
