// Fernhill Community Garden: marks this month's row in the sowing calendar
// and the page being read in the menu.
(function () {
  "use strict";
  var months = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"];

  function inRange(range, month) {
    var ends = range.split("-");
    var from = months.indexOf(ends[0]);
    var to = months.indexOf(ends[1] || ends[0]);
    return from <= to ? month >= from && month <= to : month >= from || month <= to;
  }

  document.addEventListener("DOMContentLoaded", function () {
    var calendar = document.getElementById("calendar");
    if (calendar) {
      var month = new Date().getMonth();
      Array.prototype.forEach.call(calendar.rows, function (row, i) {
        if (i > 0 && inRange(row.cells[1].textContent, month)) {
          row.className = "now";
        }
      });
    }
    Array.prototype.forEach.call(document.querySelectorAll("nav a"), function (a) {
      if (a.href === location.href) {
        a.setAttribute("aria-current", "page");
      }
    });
  });
})();
