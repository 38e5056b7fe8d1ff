// The right-click menu of a list entry: "Edit", "Remove", "Tracking Line" and "Delete".
function VehicleContextMenu(options) {
  var self = this;
  this.options = options || {};
  this.handlers = [];
  this.items = {};
  this.vehicleID = "";
  var block = document.createElement("div");
  block.setAttribute("id", "VehicleContextMenu");
  document.body.appendChild(block);
  this.block = block;
  this.listen(document, "mousedown", function () { self.Hide(); }, true);
  this.listen(block, "contextmenu", function (e) { e.preventDefault(); });
}

VehicleContextMenu.prototype.listen = function (element, type, handler, capture) {
  element.addEventListener(type, handler, !!capture);
  this.handlers.push([element, type, handler]);
};

VehicleContextMenu.prototype.AddItem = function (key, value) {
  var self = this;
  var line = document.createElement("div");
  line.setAttribute("data-item", String(key));
  setText(line, value);
  this.listen(line, "mousedown", function (e) {
    e.stopPropagation();
    var id = self.vehicleID;
    self.Hide();
    if (self.options.MouseClickHandler) self.options.MouseClickHandler(e, String(key), id);
  });
  this.block.appendChild(line);
  this.items[key] = line;
};

VehicleContextMenu.prototype.UpdateItem = function (key, value) {
  if (this.items[key]) setText(this.items[key], value);
};

VehicleContextMenu.prototype.Display = function (e, vehicleID) {
  this.vehicleID = String(vehicleID);
  var block = this.block;
  block.style.display = "block";
  var x = e ? e.clientX : 0, y = e ? e.clientY : 0;
  var pageHeight = document.documentElement.clientHeight;
  var pageWidth = document.documentElement.clientWidth;
  if (y + block.offsetHeight > pageHeight) y = pageHeight - block.offsetHeight;
  if (x + block.offsetWidth > pageWidth) x = pageWidth - block.offsetWidth;
  block.style.left = Math.max(0, x) + "px";
  block.style.top = Math.max(0, y) + "px";
};

VehicleContextMenu.prototype.Hide = function () { this.block.style.display = "none"; };
VehicleContextMenu.prototype.isVisible = function () { return this.block.style.display === "block"; };

function hideVehicleContextMenu() {
  if (vehicleContextMenu) vehicleContextMenu.Hide();
}
