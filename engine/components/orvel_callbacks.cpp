#include "engine/components/orvel_callbacks.h"

#include <utility>

namespace orv {

namespace {

TOrvelPasswordQuestion& PasswordQuestionSlot() {
  static TOrvelPasswordQuestion question;
  return question;
}

TOrvelIndexProgressFactory& IndexProgressFactorySlot() {
  static TOrvelIndexProgressFactory factory;
  return factory;
}

}  // namespace

void SetTablePasswordQuestion(TOrvelPasswordQuestion question) {
  PasswordQuestionSlot() = std::move(question);
}

const TOrvelPasswordQuestion& TablePasswordQuestion() {
  return PasswordQuestionSlot();
}

void SetIndexProgressFactory(TOrvelIndexProgressFactory factory) {
  IndexProgressFactorySlot() = std::move(factory);
}

const TOrvelIndexProgressFactory& IndexProgressFactory() {
  return IndexProgressFactorySlot();
}

}  // namespace orv
