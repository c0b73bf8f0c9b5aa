#include "gallery_page.h"

#include <algorithm>
#include <cstdio>

#include "contact_sheet_layout.h"

namespace preview {
namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Kilobytes(long long bytes) { return bytes < 0 ? "?" : Fixed(bytes / 1024.0, 1) + " KB"; }

// The smallest of 1, 2 and 5 times a power of ten at or above `value`: the
// chart's full height, a round number to read the bars against.
double RoundTop(double value) {
    double step = 1e-3;
    while (step * 10 < value && step < 1e9) step *= 10;
    for (double factor : {1.0, 2.0, 5.0, 10.0})
        if (step * factor >= value) return step * factor;
    return step * 10;
}

// Trims a fixed-point number's trailing zeros ("0.200" -> "0.2").
std::string Short(double value) {
    std::string text = Fixed(value, 3);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

// Per-frame Draw times as bars against a scale (full height a round number of
// ms, the median a dashed line); long runs are folded into at most 300 bars,
// each the slowest frame it covers, so a spike stays visible.
std::string TimingChart(const std::vector<double>& frameMs, double median) {
    if (frameMs.empty()) return {};
    const size_t bars = std::min<size_t>(frameMs.size(), 300);
    std::vector<double> values(bars, 0.0);
    for (size_t i = 0; i < frameMs.size(); ++i) {
        double& slot = values[i * bars / frameMs.size()];
        slot = std::max(slot, frameMs[i]);
    }
    const double top = RoundTop(*std::max_element(values.begin(), values.end()));
    std::string svg = "<figure class=\"timing\"><div class=\"plot\"><span class=\"top\">" + Short(top) +
                      " ms</span><span class=\"zero\">0</span><svg class=\"chart\" viewBox=\"0 0 " +
                      std::to_string(bars) +
                      " 40\" preserveAspectRatio=\"none\" role=\"img\" aria-label=\"time per frame\">";
    for (size_t i = 0; i < bars; ++i) {
        const double h = std::max(0.5, 40.0 * values[i] / top);
        const size_t first = i * frameMs.size() / bars;
        svg += "<rect x=\"" + std::to_string(i) + "\" y=\"" + Fixed(40.0 - h, 2) + "\" width=\"0.8\" height=\"" +
               Fixed(h, 2) + "\"><title>frame " + std::to_string(first) + ": " + Fixed(values[i], 3) +
               " ms</title></rect>";
    }
    const std::string y = Fixed(40.0 - 40.0 * median / top, 2);
    svg += "<line class=\"median\" x1=\"0\" x2=\"" + std::to_string(bars) + "\" y1=\"" + y + "\" y2=\"" + y +
           "\"/></svg></div><figcaption>each bar one frame's Draw" +
           std::string(bars < frameMs.size() ? " (the slowest of the frames it covers)" : "") +
           ", first to last; full height " + Short(top) + " ms, the dashed line the median</figcaption></figure>";
    return svg;
}

// What a reader may take for a fault of the effect: the work surface of
// effects 40 and 41 is the host's own drawing.
std::string EffectNote(int32_t effect) {
    if (effect == 40)
        return "The black columns at the sides are the reference host's: its CopyAxisX draws the work surface "
               "squeezed towards the vertical centre line, black where it has moved away. In a game the "
               "engine's own CopyAxisX draws it.";
    if (effect == 41)
        return "The black rows above and below are the reference host's: its CopyAxisY draws the work surface "
               "squeezed towards the horizontal centre line, black where it has moved away. In a game the "
               "engine's own CopyAxisY draws it.";
    return {};
}

// The size attributes of an <img> of a width x height picture; small pictures
// are shown enlarged by a whole factor, pixelated rather than blurred.
std::string ShownSize(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return {};
    const int32_t factor =
        std::max(width, height) < kGallerySmallSide ? WholeEnlargement(width, height, kGallerySmallSide) : 1;
    std::string attributes = " width=\"" + std::to_string(width * factor) + "\" height=\"" +
                             std::to_string(height * factor) + "\"";
    if (factor > 1) attributes += " class=\"pixelated\"";
    return attributes;
}

const char* const kStyle = R"(
:root { color-scheme: dark; --bg: #15171c; --card: #1f2229; --line: #2f333d; --text: #e6e8ec; --dim: #9aa1ad; --accent: #ffaa3c; }
* { box-sizing: border-box; }
body { margin: 0; padding: 24px; background: var(--bg); color: var(--text); font: 15px/1.45 system-ui, sans-serif; }
h1 { margin: 0 0 4px; font-size: 24px; }
.lead { color: var(--dim); margin: 0 0 18px; }
.sources { display: flex; gap: 16px; align-items: center; flex-wrap: wrap; margin-bottom: 24px; }
.sources figure { margin: 0; }
.sources img { display: block; max-width: 240px; height: auto; border: 1px solid var(--line); }
.sources figcaption, .card figcaption { color: var(--dim); font-size: 13px; margin-top: 4px; }
.arrow { font-size: 28px; color: var(--accent); }
.grid { display: flex; flex-direction: column; gap: 20px; }
.card { background: var(--card); border: 1px solid var(--line); border-radius: 10px; padding: 16px; }
.card h2 { margin: 0 0 10px; font-size: 18px; }
.card h2 .number { color: var(--accent); margin-right: 6px; }
.pictures { display: flex; flex-wrap: wrap; gap: 16px; align-items: flex-start; margin-bottom: 12px; }
.card figure { margin: 0; max-width: 100%; }
.card img { display: block; max-width: 100%; height: auto; border: 1px solid var(--line); }
.stats { display: grid; grid-template-columns: max-content 1fr; gap: 2px 12px; margin: 0; font-size: 13px; }
.stats dt { color: var(--dim); }
.stats dd { margin: 0; }
.timing { margin: 8px 0 0; }
.timing .plot { position: relative; padding-left: 64px; }
.timing .top, .timing .zero { position: absolute; left: 0; width: 58px; text-align: right; color: var(--dim); font-size: 12px; }
.timing .top { top: -2px; }
.timing .zero { bottom: -2px; }
.chart { width: 100%; height: 48px; display: block; background: #181a20; border-top: 1px solid var(--line);
         border-bottom: 1px solid var(--line); }
.chart rect { fill: var(--accent); }
.chart .median { stroke: var(--text); stroke-width: 1; stroke-dasharray: 4 3; vector-effect: non-scaling-stroke; }
.timing figcaption { color: var(--dim); font-size: 12px; margin: 2px 0 0 64px; }
.note { color: var(--dim); font-size: 13px; margin: 8px 0 0; }
.warning { color: #ff7b72; font-size: 13px; }
footer { margin-top: 24px; color: var(--dim); font-size: 13px; }
code { font-size: 12px; }
img.pixelated { image-rendering: pixelated; }
)";

// Marks the page once every picture has loaded (a picture the browser cannot
// decode has no natural width), so that a browser run, or a person, can tell a
// broken or missing file at a glance.
const char* const kCheckScript = R"(
window.addEventListener('load', function () {
  var images = Array.prototype.slice.call(document.images);
  var failed = images.filter(function (img) { return !(img.complete && img.naturalWidth > 0); })
                     .map(function (img) { return img.getAttribute('src'); });
  var status = document.getElementById('status');
  status.setAttribute('data-loaded', String(images.length - failed.length));
  status.setAttribute('data-failed', failed.join(' '));
  status.setAttribute('data-state', failed.length ? 'failed' : 'ok');
  status.textContent = failed.length ? 'Pictures that did not load: ' + failed.join(', ')
                                     : 'All ' + images.length + ' pictures loaded.';
});
)";

}  // namespace

TimingSummary SummariseTiming(const std::vector<double>& frameMs) {
    TimingSummary s;
    if (frameMs.empty()) return s;
    std::vector<double> sorted = frameMs;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double ms : sorted) sum += ms;
    s.mean = sum / static_cast<double>(sorted.size());
    const size_t middle = sorted.size() / 2;
    s.median = sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
    s.max = sorted.back();
    return s;
}

std::string RenderGalleryHtml(const GalleryPage& page) {
    const size_t pictures = 2 + 2 * page.entries.size();
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
                       Escape(page.title) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
    html += "<h1>" + Escape(page.title) + "</h1>\n<p class=\"lead\">" + Escape(page.pairDescription) + ". " +
            std::to_string(page.entries.size()) + (page.entries.size() == 1 ? " effect" : " effects") +
            ", drawn by the module through the reference host; animations at " + std::to_string(page.delayMs) +
            " ms a frame, holding the first and last frame " + std::to_string(page.holdMs) + " ms longer.</p>\n";
    if (!page.version.empty() || !page.processor.empty())
        html += "<p class=\"lead\" id=\"made-with\">Made with Veilshift " + Escape(page.version) + " on " +
                Escape(page.processor) + "; each effect names the form that ran.</p>\n";
    html += "<div class=\"sources\">\n<figure><img src=\"" + Escape(page.sourceA) + "\"" +
            ShownSize(page.sourceAWidth, page.sourceAHeight) +
            " alt=\"source A\"><figcaption>A, the picture being left</figcaption></figure>\n"
            "<span class=\"arrow\" aria-hidden=\"true\">&rarr;</span>\n<figure><img src=\"" +
            Escape(page.sourceB) + "\"" + ShownSize(page.sourceBWidth, page.sourceBHeight) +
            " alt=\"source B\"><figcaption>B, the picture being entered</figcaption></figure>\n</div>\n";
    html += "<main class=\"grid\">\n";
    for (const GalleryEntry& e : page.entries) {
        const TimingSummary t = SummariseTiming(e.frameMs);
        html += "<section class=\"card\" id=\"effect-" + std::to_string(e.effect) + "\">\n<h2><span class=\"number\">" +
                std::to_string(e.effect) + "</span>" + Escape(e.name) + "</h2>\n";
        html += "<div class=\"pictures\">\n<figure><img src=\"" + Escape(e.animation) + "\"" +
                ShownSize(e.width, e.height) + " alt=\"effect " + std::to_string(e.effect) +
                " animation\"><figcaption>animation (" + Kilobytes(e.animationBytes) + ")</figcaption></figure>\n";
        html += "<figure><a href=\"" + Escape(e.sheet) + "\"><img src=\"" + Escape(e.sheet) + "\" alt=\"effect " +
                std::to_string(e.effect) + " contact sheet\"></a><figcaption>contact sheet (" +
                Kilobytes(e.sheetBytes) + "), labelled with each frame's progress</figcaption></figure>\n</div>\n";
        html += "<dl class=\"stats\">\n<dt>frames</dt><dd>" + std::to_string(e.frames) + "</dd>\n<dt>size</dt><dd>" +
                std::to_string(e.width) + "&times;" + std::to_string(e.height) + ", rectangle " + Escape(e.rectangle) +
                "</dd>\n<dt>per frame</dt><dd><strong>" + Fixed(t.median, 3) + " ms</strong> median (" +
                Fixed(t.mean, 3) + " ms mean, " + Fixed(t.max, 3) + " ms slowest)</dd>\n<dt>form</dt><dd>" +
                Escape(e.form) + "</dd>\n";
        if (!e.seed.empty()) html += "<dt>seed</dt><dd>" + Escape(e.seed) + " (the host timer's answer)</dd>\n";
        html += "</dl>\n" + TimingChart(e.frameMs, t.median) + "\n";
        const std::string note = EffectNote(e.effect);
        if (!note.empty()) html += "<p class=\"note\">" + Escape(note) + "</p>\n";
        if (!e.warning.empty()) html += "<p class=\"warning\">" + Escape(e.warning) + "</p>\n";
        html += "</section>\n";
    }
    html += "</main>\n<footer>\n<p id=\"status\" data-state=\"pending\" data-expected=\"" + std::to_string(pictures) +
            "\">Checking the " + std::to_string(pictures) + " pictures&hellip;</p>\n";
    if (!page.command.empty()) html += "<p>Made with <code>" + Escape(page.command) + "</code></p>\n";
    if (!page.playground.empty())
        html += "<p>Try the transitions on your own pictures in the <a href=\"" + Escape(page.playground) +
                "\">playground</a>.</p>\n";
    html += "</footer>\n<script>" + std::string(kCheckScript) + "</script>\n</body>\n</html>\n";
    return html;
}

}  // namespace preview
