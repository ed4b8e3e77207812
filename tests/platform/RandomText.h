#pragma once
// Lists of short random texts over a given alphabet, for round trips of list encodings.
#include <random>
#include <string>
#include <string_view>
#include <vector>

// Up to maxEntries entries of up to maxLength characters each; empty entries and empty lists
// come up as often as the others.
inline std::vector<std::string> RandomList(std::mt19937& random, std::string_view alphabet,
                                           size_t maxEntries, size_t maxLength) {
  std::vector<std::string> list(random() % (maxEntries + 1));
  for (std::string& entry : list) {
    entry.resize(random() % (maxLength + 1));
    for (char& c : entry) c = alphabet[random() % alphabet.size()];
  }
  return list;
}
