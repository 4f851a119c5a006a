// A small SVG writer: shapes and text in user units, attributes escaped.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lansim {

class SvgWriter {
 public:
  SvgWriter(double width, double height);

  // Extra attributes are name/value pairs ("stroke-dasharray", "4 3").
  using Attributes = std::vector<std::pair<std::string, std::string>>;

  void Rect(double x, double y, double width, double height, std::string_view fill,
            const Attributes& extra = {});
  void Line(double x1, double y1, double x2, double y2, std::string_view stroke, double width,
            const Attributes& extra = {});
  void Polyline(const std::vector<std::pair<double, double>>& points, std::string_view stroke,
                double width);
  // anchor: "start", "middle" or "end".
  void Text(double x, double y, std::string_view text, double size, std::string_view anchor,
            std::string_view fill = "#222", const Attributes& extra = {});

  // The whole document.
  std::string Finish() const;

  static std::string Escape(std::string_view text);

 private:
  static std::string Number(double value);
  static std::string Extra(const Attributes& extra);

  double width_;
  double height_;
  std::string body_;
};

}  // namespace lansim
