#include "tools/lansim/svg_writer.h"

#include <cmath>
#include <cstdio>

namespace lansim {

SvgWriter::SvgWriter(double width, double height) : width_(width), height_(height) {}

std::string SvgWriter::Escape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string SvgWriter::Number(double value) {
  if (!std::isfinite(value)) value = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  std::string out = text;
  while (out.back() == '0') out.pop_back();
  if (out.back() == '.') out.pop_back();
  return out == "-0" ? "0" : out;
}

std::string SvgWriter::Extra(const Attributes& extra) {
  std::string out;
  for (const auto& [name, value] : extra) out += " " + name + "=\"" + Escape(value) + "\"";
  return out;
}

void SvgWriter::Rect(double x, double y, double width, double height, std::string_view fill,
                     const Attributes& extra) {
  body_ += "<rect x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" + Number(width) +
           "\" height=\"" + Number(height) + "\" fill=\"" + Escape(fill) + "\"" + Extra(extra) +
           "/>\n";
}

void SvgWriter::Line(double x1, double y1, double x2, double y2, std::string_view stroke,
                     double width, const Attributes& extra) {
  body_ += "<line x1=\"" + Number(x1) + "\" y1=\"" + Number(y1) + "\" x2=\"" + Number(x2) +
           "\" y2=\"" + Number(y2) + "\" stroke=\"" + Escape(stroke) + "\" stroke-width=\"" +
           Number(width) + "\"" + Extra(extra) + "/>\n";
}

void SvgWriter::Polyline(const std::vector<std::pair<double, double>>& points,
                         std::string_view stroke, double width) {
  if (points.empty()) return;
  std::string list;
  for (const auto& [x, y] : points) {
    if (!list.empty()) list += ' ';
    list += Number(x);
    list += ',';
    list += Number(y);
  }
  body_ += "<polyline points=\"" + list + "\" fill=\"none\" stroke=\"" + Escape(stroke) +
           "\" stroke-width=\"" + Number(width) + "\" stroke-linejoin=\"round\"/>\n";
}

void SvgWriter::Text(double x, double y, std::string_view text, double size,
                     std::string_view anchor, std::string_view fill, const Attributes& extra) {
  body_ += "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" font-size=\"" + Number(size) +
           "\" text-anchor=\"" + Escape(anchor) + "\" fill=\"" + Escape(fill) + "\"" +
           Extra(extra) + ">" + Escape(text) + "</text>\n";
}

std::string SvgWriter::Finish() const {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
         Number(width_) + "\" height=\"" + Number(height_) + "\" viewBox=\"0 0 " + Number(width_) +
         " " + Number(height_) +
         "\" font-family=\"sans-serif\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n" +
         body_ + "</svg>\n";
}

}  // namespace lansim
