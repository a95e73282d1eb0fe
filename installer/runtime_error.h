// Run-time failures as VB reports them (Err.Number, Err.Description, Err.Source): the installer's
// steps catch every failure and turn it into their error text, never letting one escape.
#pragma once

#include <exception>
#include <string>

namespace installer {

struct ErrObject {
  long Number = 0;
  std::string Description;
  std::string Source;
};

class RunTimeError : public std::exception {
 public:
  RunTimeError(long number, std::string description, std::string source = "Setup")
      : err_{number, std::move(description), std::move(source)} {}
  const ErrObject& Err() const { return err_; }
  const char* what() const noexcept override { return err_.Description.c_str(); }

 private:
  ErrObject err_;
};

// Inside a catch (...): the Err of the failure being handled. A user interface that has given up
// (no answer in a script) is not a failure of the step and is thrown on.
ErrObject CaughtErr();

// The installer's error details of a failure: "Error : " number, a blank, the description, a line
// break, "Source : " and the source.
std::string ErrorDetails(const ErrObject& err);

}  // namespace installer
