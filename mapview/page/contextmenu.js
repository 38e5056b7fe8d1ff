// The vehicle popup: title, picture, driver and company, a box with
// registration, license, maker and model, and detail rows shown only when
// expanded. Fields are addressed by their label.
var POPUP_FIELD_KEYS = [Driver, Company];
var POPUP_BOX_KEYS = [Registration, License, Maker, Model];

function CustomContextMenu(options) {
  var self = this;
  this.options = options || {};
  this.handlers = [];
  this.fields = {};      // key -> { element, text, label }
  this.id = "";
  this.anchorX = 550;
  this.anchorY = 310;
  this.expanded = false;
  this.dragging = null;

  var block = document.createElement("div");
  block.setAttribute("id", "ContextMenu");
  this.block = block;

  var title = document.createElement("div");
  title.className = "TitleBar";
  var titleIcon = document.createElement("img");
  titleIcon.className = "TitleIcon";
  titleIcon.setAttribute("src", "images/info_title icon.png");
  titleIcon.setAttribute("alt", "");
  var titleText = document.createElement("div");
  titleText.className = "TitleText";
  var close = document.createElement("img");
  close.className = "CloseButton";
  close.setAttribute("src", "images/contextmenu_close_normal.png");
  close.setAttribute("alt", "");
  title.appendChild(titleIcon);
  title.appendChild(titleText);
  title.appendChild(close);
  block.appendChild(title);
  this.titleBar = title;
  this.titleText = titleText;

  this.image = document.createElement("img");
  this.image.className = "VehicleImage";
  this.image.setAttribute("alt", "");
  this.image.setAttribute("src", "images/user_blank.png");
  block.appendChild(this.image);

  this.box = document.createElement("div");
  this.box.className = "Box";
  block.appendChild(this.box);
  this.rows = document.createElement("div");
  this.rows.className = "Rows";
  block.appendChild(this.rows);

  this.more = document.createElement("img");
  this.more.className = "MoreButton";
  this.more.setAttribute("src", "images/info_more_down.png");
  this.more.setAttribute("alt", "");
  block.appendChild(this.more);

  // Positions are page coordinates, so the popup hangs off the body, not
  // off the map it describes (options.Base).
  document.body.appendChild(block);

  this.listen(close, "mouseover", function () { close.setAttribute("src", "images/contextmenu_close_mover.png"); });
  this.listen(close, "mouseout", function () { close.setAttribute("src", "images/contextmenu_close_normal.png"); });
  this.listen(close, "mousedown", function (e) {
    e.stopPropagation();
    if (e.button === 0) self.Hide();
  });
  this.listen(this.more, "mousedown", function (e) {
    e.stopPropagation();
    if (e.button === 0) self.toggleExpanded(e);
  });
  this.listen(title, "mousedown", function (e) {
    if (e.button !== 0 || e.target === close) return;
    e.preventDefault();
    self.dragging = { x: e.clientX, y: e.clientY, left: self.block.offsetLeft, top: self.block.offsetTop };
  });
  this.listen(document, "mousemove", function (e) { self.drag(e); });
  this.listen(document, "mouseup", function () { self.dragging = null; });
  this.listen(document.documentElement, "mouseleave", function () { self.dragging = null; });
  this.listen(block, "mousedown", function (e) { e.stopPropagation(); hideVehicleContextMenu(); });
  this.listen(block, "mousemove", function (e) { e.stopPropagation(); });
  this.listen(block, "wheel", function (e) { e.stopPropagation(); });
  this.listen(block, "dblclick", function (e) { e.stopPropagation(); });
}

CustomContextMenu.prototype.listen = EventPopup.prototype.listen;

CustomContextMenu.prototype.drag = function (e) {
  if (!this.dragging) return;
  var left = this.dragging.left + e.clientX - this.dragging.x;
  var top = this.dragging.top + e.clientY - this.dragging.y;
  var height = this.expanded ? global.popupExpandedHeight : global.popupHeight;
  // Ending the drag near an edge keeps the popup reachable.
  if (left < 2 || top < 2 || left + global.popupWidth > global.width - 2 || top + height > global.height - 2) {
    this.dragging = null;
    return;
  }
  this.block.style.left = left + "px";
  this.block.style.top = top + "px";
};

CustomContextMenu.prototype.hoverable = function (element, key) {
  var self = this;
  this.listen(element, "mouseover", function (e) {
    var field = self.fields[key];
    if (field && field.text !== "") showTooltip(e, field.label + ": " + field.text);
  });
  this.listen(element, "mouseout", function () { removeTooltip(); });
};

CustomContextMenu.prototype.AddImage = function (key, value) {
  this.fields[key] = { element: this.image, text: "", label: key, image: true };
  this.image.setAttribute("src", value ? String(value) : "images/user_blank.png");
};

CustomContextMenu.prototype.AddTextWithImg = function (key, value, src) {
  var element, text = document.createElement("span");
  var icon = document.createElement("img");
  icon.setAttribute("src", String(src));
  icon.setAttribute("alt", "");
  if (POPUP_FIELD_KEYS.indexOf(key) >= 0) {
    element = document.createElement("div");
    element.className = "Field";
    element.style.top = (33 + POPUP_FIELD_KEYS.indexOf(key) * 24) + "px";
    element.appendChild(icon);
    element.appendChild(text);
    this.block.appendChild(element);
  } else {
    element = document.createElement("div");
    element.className = "BoxLine";
    element.appendChild(icon);
    element.appendChild(text);
    this.box.appendChild(element);
  }
  this.fields[key] = { element: text, text: "", label: key };
  this.hoverable(element, key);
  this.UpdateItem(key, value);
};

CustomContextMenu.prototype.AddItem = function (key, value) {
  var element, text;
  if (POPUP_BOX_KEYS.indexOf(key) >= 0) {
    element = document.createElement("div");
    element.className = "BoxLine";
    text = document.createElement("span");
    element.appendChild(text);
    this.box.appendChild(element);
  } else {
    element = document.createElement("div");
    element.className = "Row";
    var label = document.createElement("span");
    label.className = "RowLabel";
    setText(label, key);
    text = document.createElement("span");
    text.className = "RowValue";
    element.appendChild(label);
    element.appendChild(text);
    this.rows.appendChild(element);
  }
  this.fields[key] = { element: text, text: "", label: key };
  this.hoverable(element, key);
  this.UpdateItem(key, value);
};

// An empty value of a labelled field shows the label, dimmed, as a hint.
CustomContextMenu.prototype.UpdateItem = function (key, value, placeholder) {
  var field = this.fields[key];
  if (!field) return;
  if (field.image) {
    this.image.setAttribute("src", value ? String(value) : "images/user_blank.png");
    return;
  }
  var text = (value === undefined || value === null) ? "" : String(value);
  field.text = text;
  if (text === "" && placeholder) {
    setText(field.element, placeholder);
    field.element.className = field.element.className.replace(/ ?placeholder/, "") + " placeholder";
  } else {
    setText(field.element, text);
    field.element.className = field.element.className.replace(/ ?placeholder/, "");
  }
};

CustomContextMenu.prototype.getItem = function (key) {
  var field = this.fields[key];
  return field ? field.element.textContent : null;
};

CustomContextMenu.prototype.setVehicleName = function (name) {
  setText(this.titleText, name);
  this.titleText.setAttribute("title", String(name));
};

CustomContextMenu.prototype.vehicleName = function () { return this.titleText.textContent; };
CustomContextMenu.prototype.setVehicleID = function (id) { this.id = String(id); };
CustomContextMenu.prototype.vehicleID = function () { return this.id; };
CustomContextMenu.prototype.isVisible = function () { return this.block.style.display === "block"; };
CustomContextMenu.prototype.isMoreButtonClicked = function () { return this.expanded; };

CustomContextMenu.prototype.changePosition = function (x, y) {
  this.anchorX = x / 2;
  this.anchorY = y / 2;
};

CustomContextMenu.prototype.Display = function (e) {
  var x = this.anchorX, y = this.anchorY;
  var mapWidth = global.listVisible ? global.width - global.listWidth : global.width;
  if (x - global.listWidth + global.popupWidth > mapWidth) {
    x = mapWidth - global.popupWidth + global.listWidth;
  }
  if (y - global.headerHeight - global.popupHeight < 0) {
    y = global.headerHeight;
  } else {
    y = y - global.popupHeight;
  }
  if (!global.listVisible) x -= 100;
  this.block.style.left = Math.max(2, x - 280) + "px";
  this.block.style.top = y + "px";
  this.block.style.display = "block";
  this.keepInside();
};

CustomContextMenu.prototype.Hide = function () {
  this.block.style.display = "none";
  this.dragging = null;
  refreshKeptOut();
};

CustomContextMenu.prototype.toggleExpanded = function (e) {
  this.expanded = !this.expanded;
  if (this.expanded) {
    this.block.className = "expanded";
    this.more.setAttribute("src", "images/info_more_up.png");
    if (e && e.clientY + 154 > global.height - 2) {
      this.block.style.top = (global.height - global.popupExpandedHeight - 4) + "px";
    }
  } else {
    this.block.className = "";
    this.more.setAttribute("src", "images/info_more_down.png");
  }
  this.updateSize();
};

CustomContextMenu.prototype.updateSize = function () {
  this.block.style.height = (this.expanded ? global.popupExpandedHeight : global.popupHeight) + "px";
};

// Keeps the popup inside the page after a resize.
CustomContextMenu.prototype.keepInside = function () {
  var left = parseInt(this.block.style.left, 10) || 0;
  var top = parseInt(this.block.style.top, 10) || 0;
  var maxLeft = global.width - global.popupWidth - 2;
  var maxTop = global.height - (this.expanded ? global.popupExpandedHeight + 4 : global.popupHeight + 4);
  if (left > maxLeft) this.block.style.left = Math.max(0, maxLeft) + "px";
  if (top > maxTop) this.block.style.top = Math.max(global.headerHeight, maxTop) + "px";
};
