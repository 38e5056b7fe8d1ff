// The floating event list: newest line on top, at most 17 lines.
function EventPopup(options) {
  var self = this;
  this.options = options || {};
  this.handlers = [];
  this.DEFAULT_ITEM_COUNT = 9;
  this.TOTAL_ITEM_COUNT = 18;
  this.ITEM_HEIGHT = 16;
  this.DEFAULT_HEIGHT = 150;

  var block = document.createElement("div");
  block.setAttribute("id", "EventPopup");
  var closeRow = document.createElement("div");
  closeRow.className = "CloseRow";
  var close = document.createElement("img");
  close.setAttribute("src", "images/eventpopup_close_normal.png");
  close.setAttribute("alt", "");
  closeRow.appendChild(close);
  block.appendChild(closeRow);
  document.body.appendChild(block);
  this.block = block;
  this.closeRow = closeRow;
  this.height = this.DEFAULT_HEIGHT;
  this.left = 580;

  this.listen(close, "mouseover", function () { close.setAttribute("src", "images/eventpopup_close_mover.png"); });
  this.listen(close, "mouseout", function () { close.setAttribute("src", "images/eventpopup_close_normal.png"); });
  this.listen(close, "mousedown", function (e) {
    if (e.button !== 0) return;
    e.stopPropagation();
    self.Hide();
    self.DeleteItem();
  });
}

EventPopup.prototype.listen = function (element, type, handler) {
  element.addEventListener(type, handler, false);
  this.handlers.push([element, type, handler]);
};

EventPopup.prototype.AddItem = function (key, value, src) {
  var self = this;
  this.Display();
  var children = this.block.childNodes.length; // the close row counts
  if (children > this.DEFAULT_ITEM_COUNT - 1 && children < this.TOTAL_ITEM_COUNT) {
    this.height += this.ITEM_HEIGHT;
    this.block.style.height = this.height + "px";
  }
  if (children > this.TOTAL_ITEM_COUNT - 1) {
    this.block.removeChild(this.block.lastChild);
  }
  var line = document.createElement("div");
  line.className = "EventLine";
  line.setAttribute("data-vehicle", String(key));
  line.setAttribute("title", String(value));
  if (src) {
    var icon = document.createElement("img");
    icon.setAttribute("src", String(src));
    icon.setAttribute("alt", "");
    line.appendChild(icon);
  } else {
    line.className += " noicon";
  }
  var text = document.createElement("span");
  setText(text, value);
  line.appendChild(text);
  line.addEventListener("mouseover", function (e) {
    if (self.options.EventPopupMouseOverHandler) self.options.EventPopupMouseOverHandler(e, String(value));
  });
  line.addEventListener("mouseout", function (e) {
    if (self.options.EventPopupMouseOutHandler) self.options.EventPopupMouseOutHandler(e);
  });
  line.addEventListener("mousedown", function (e) {
    if (e.button !== 0) return;
    if (self.options.EventPopupClickHandler) self.options.EventPopupClickHandler(e, String(key));
  });
  if (icon) {
    icon.addEventListener("mousedown", function (e) {
      if (e.button !== 0) return;
      if (self.options.EventPopupImgClickHandler) self.options.EventPopupImgClickHandler(e, String(key));
    });
  }
  // Line handlers are not kept in this.handlers: they go with the line,
  // so a console left running for weeks does not collect them.
  this.block.insertBefore(line, this.closeRow.nextSibling);
};

// Shifts the block horizontally by the given amount; the top stays.
EventPopup.prototype.changePosition = function (left, top) {
  this.left += Number(left) || 0;
  this.block.style.left = this.left + "px";
};

EventPopup.prototype.Display = function () { this.block.style.display = "block"; };

EventPopup.prototype.Hide = function () {
  this.block.style.display = "none";
  this.height = this.DEFAULT_HEIGHT;
  this.block.style.height = this.height + "px";
};

EventPopup.prototype.DeleteItem = function () {
  while (this.block.lastChild && this.block.lastChild !== this.closeRow) {
    this.block.removeChild(this.block.lastChild);
  }
};

EventPopup.prototype.lineCount = function () { return this.block.childNodes.length - 1; };
