// The four re-entrant sections that serialise the filter's request handling, always taken in
// rising order: 0 URL map, 1 request decision, 2 time charge, 3 record sets and time map.
#pragma once

#include <atomic>

inline constexpr int kSectionCount = 4;

// LockSection/UnlockSection calls not yet matched, per section; serves only the log lines.
extern std::atomic<int> sectionUseCount[kSectionCount];

void LockSection(int type);
void UnlockSection(int type);

// Created by the start-up in the order 3, 2, 1, 0, deleted by the shut-down in the same order.
void CreateSections();
void DeleteSections();

// Holds a section for a scope, so that every path out of it releases the section.
class SectionLock {
 public:
  explicit SectionLock(int type) : type_(type) { LockSection(type_); }
  ~SectionLock() { UnlockSection(type_); }
  SectionLock(const SectionLock&) = delete;
  SectionLock& operator=(const SectionLock&) = delete;

 private:
  int type_;
};
