#include "app/InstrumentSession.h"

#include <exception>
#include <utility>

#include "link/Errors.h"
#include "text/Messages.h"

namespace vxa {

InstrumentSession::InstrumentSession(FtDriver& driver, Clock& clock, std::function<void()> wake)
    : driver_(driver), clock_(clock), wake_(std::move(wake)) {
  TrafficThread = std::make_unique<TrafficControlThread>([this] { return Current(); });
}

InstrumentSession::~InstrumentSession() {
  TrafficThread->Stop();
}

template <typename Exchange>
std::optional<Failure> InstrumentSession::Attempt(Exchange exchange) {
  try {
    exchange();
    return std::nullopt;
  } catch (const TVXA4410ConnError& e) {
    return FailureOf(e);
  }
}

void InstrumentSession::Drop() {
  // The traffic thread may still be looking at the connection it has just finished with.
  TrafficThread->WaitUntilParked();
  Connections.clear();
}

std::optional<Failure> InstrumentSession::Open(const BridgeInfo* bridge) {
  TVXA4410Connection& connection = Connections.emplace_back(
      driver_, clock_, bridge != nullptr ? static_cast<int>(bridge->index) : 0);
  connection.SetOutcomeListener(wake_);
  std::optional<Failure> failure = Attempt([&] { connection.Open(bridge); });
  // One that is not there at all is no instrument; one that is there but cannot be used is a
  // failure to reach it. The closed connection stays until the next search.
  if (failure && connection.BridgeMissing()) failure->kind = FailureKind::kNoDevice;
  return failure;
}

std::optional<std::string> InstrumentSession::StartLog(const LogPlan& plan) {
  TVXA4410Connection& connection = *Current();
  if (connection.SetLogging(plan.log, plan.dump, plan.name)) return std::nullopt;
  return FormatText(VXA_MSG(msg::kFileCreateFailed), connection.FailedFile(),
                    connection.FailedCause().c_str());
}

std::optional<Failure> InstrumentSession::ReadRecords(TBasicTransBuffer* buffer,
                                                      const LogPlan& plan,
                                                      InstrumentFacts* facts) {
  TVXA4410Connection& connection = *Current();
  std::optional<Failure> failure = Attempt([&] {
    connection.Bind(buffer);
    connection.QueryDeviceInfo();
    connection.QueryGinf();
  });
  if (failure) {
    failure->kind = FailureKind::kNotAnswering;
    return failure;
  }
  if (plan.renamed && connection.Logging()) {
    connection.RenameLog(plan.renamed(connection.SerialNumberText()));
  }
  // Each text is taken whole before the next is asked for.
  facts->model = connection.ModelText();
  facts->serialNumber = connection.SerialNumberText();
  facts->deviceVersion = connection.DeviceVersionText();
  facts->programVersion = connection.ProgramVersionText();
  return std::nullopt;
}

std::optional<Failure> InstrumentSession::StartWrite(uint32_t fileKind, Start* start) {
  return Attempt([&] { start->result = Current()->StartWrite(fileKind, start->reason); });
}

std::optional<Failure> InstrumentSession::StartRead(uint32_t fileKind, Start* start) {
  return Attempt([&] { start->result = Current()->StartRead(fileKind, start->reason); });
}

std::optional<Failure> InstrumentSession::TransferFailure() {
  return Attempt([&] { Current()->CheckError(); });
}

std::optional<Failure> InstrumentSession::Refusal() {
  std::optional<Failure> failure = TransferFailure();
  if (failure && failure->kind == FailureKind::kRefused) return failure;
  return std::nullopt;
}

std::optional<Failure> InstrumentSession::PollVersion(std::string* version) {
  TVXA4410Connection& connection = *Current();
  std::optional<Failure> failure = Attempt([&] { connection.QueryGinf(); });
  *version = connection.ProgramVersionText();
  return failure;
}

std::optional<LocalDateTime> InstrumentSession::SetClock(std::optional<Failure>* failure) {
  LocalDateTime sent;
  bool taken = false;
  *failure = Attempt([&] { taken = Current()->SetDeviceClock(&sent); });
  if (!taken) return std::nullopt;
  return sent;
}

}  // namespace vxa
