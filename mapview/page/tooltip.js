// The page's own tooltip (the browser's native tooltips are switched off).
function Tooltip(options) {
  var self = this;
  this.options = options || {};
  this.handlers = [];
  var block = document.createElement("div");
  block.setAttribute("id", "Tooltip");
  document.body.appendChild(block);
  this.block = block;
  this.listen(block, "contextmenu", function (e) { e.preventDefault(); self.DeleteItem(); });
  this.listen(block, "mousedown", function (e) { if (e.button === 2) self.DeleteItem(); });
}

Tooltip.prototype.listen = EventPopup.prototype.listen;

Tooltip.prototype.AddText = function (value) {
  var line = document.createElement("div");
  setText(line, value);
  this.block.appendChild(line);
};

Tooltip.prototype.Display = function (e) {
  var block = this.block;
  block.style.border = "1px solid #23408D";
  block.style.display = "block";
  var x = (e ? e.clientX : 0) + 15;
  var y = (e ? e.clientY : 0) + 10;
  var w = block.offsetWidth, h = block.offsetHeight;
  var pageWidth = document.documentElement.clientWidth, pageHeight = document.documentElement.clientHeight;
  if (x + w > pageWidth) x = pageWidth - w - 5;
  if (y + h > pageHeight) y = pageHeight - h - 5;
  block.style.left = Math.max(0, x) + "px";
  block.style.top = Math.max(0, y) + "px";
};

Tooltip.prototype.Hide = function () { this.block.style.display = "none"; };

Tooltip.prototype.DeleteItem = function () {
  this.block.style.display = "none";
  this.block.style.border = "0";
  if (this.block.firstChild) this.block.removeChild(this.block.firstChild);
};

Tooltip.prototype.isVisible = function () { return this.block.style.display === "block"; };

// One tooltip at a time: a new text replaces whatever is shown.
function showTooltip(e, text) {
  if (!tooltip || text === "") return;
  while (tooltip.block.firstChild) tooltip.block.removeChild(tooltip.block.firstChild);
  tooltip.AddText(text);
  tooltip.Display(e);
}

function removeTooltip() {
  if (!tooltip) return;
  while (tooltip.block.firstChild) tooltip.DeleteItem();
  tooltip.DeleteItem();
}
