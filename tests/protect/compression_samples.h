#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace orv::testing {

using Bytes = std::vector<uint8_t>;

// UTF-8 to code page 1251 for the letters the sample sentences use (Cyrillic, ASCII).
inline std::string ToCp1251(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80 || i + 1 >= utf8.size()) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    unsigned cp = ((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F);
    i += 2;
    if (cp >= 0x410 && cp <= 0x44F)
      out += static_cast<char>(0xC0 + (cp - 0x410));
    else if (cp == 0x401)
      out += '\xA8';
    else if (cp == 0x451)
      out += '\xB8';
    else if (cp == 0xAB || cp == 0xBB)
      out += static_cast<char>(cp);  // guillemets
    else
      out += '?';
  }
  return out;
}

// Catalogue-like prose in Russian and English, cp1251, n bytes, the same for the same seed.
inline Bytes SampleText(size_t n, unsigned seed = 1) {
  static const char* const kSentences[] = {
      "Модель автомобиля ГАЗ-21 «Волга» выпущена в масштабе 1:43. ",
      "Кузов седан, цвет чёрный, состояние отличное, коробка сохранилась. ",
      "Производитель модели: Агат, Тантал, Радон; год выпуска модели 1985. ",
      "Настоящий автомобиль производился на Горьковском автозаводе с 1956 года. ",
      "Фотография сделана при дневном свете, детали салона хорошо видны. ",
      "The model of a Ford Mustang Fastback is made in 1:18 scale by Maisto. ",
      "Colour: candy apple red with white racing stripes, condition mint in box. ",
      "The real car was built in Dearborn, Michigan, from 1964 to 1973. ",
      "Catalogue number 31166; the price is kept in the protected table. ",
      "Цена модели указана в рублях и хранится в защищённой таблице. ",
      "Описание: литые диски, открываются двери, капот и багажник.\r\n",
      "Notes: minor paint chip on the rear bumper, otherwise as new.\r\n",
  };
  std::mt19937 rng(seed);
  std::string text;
  while (text.size() < n) {
    text += ToCp1251(kSentences[rng() % std::size(kSentences)]);
    if (rng() % 7 == 0) text += std::to_string(1900 + rng() % 125) + " ";
  }
  return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
}

inline Bytes RandomBytes(size_t n, unsigned seed = 1) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

}  // namespace orv::testing
