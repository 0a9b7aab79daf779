// The page's script library: names for the numbered functions of
// window.external.korvoApiCall. Each function passes its arguments as one array.
(function (global) {
  "use strict";
  // name: [number, count of elements the function reads]. Missing arguments
  // are passed as undefined elements, which the optional ones accept.
  const functions = {
    korvoTrace: [0, 1],
    korvoSetProfileString: [10, 3], korvoSetProfileInt: [11, 3],
    korvoGetProfileString: [12, 3], korvoGetProfileInt: [13, 3],
    korvoAddConnector: [20, 3], korvoValidConnector: [21, 1], korvoConnect: [22, 2],
    korvoSendValue: [23, 3], korvoReceiveValue: [24, 1], korvoGetValue: [25, 1],
    korvoMessageBox: [100, 2], korvoClose: [101, 0],
    korvoClearMenu: [102, 0], korvoAddMenuItem: [103, 4], korvoCheckMenuItem: [104, 2],
    korvoShowMenu: [105, 0],
    korvoGetExeDir: [150, 1], korvoListDir: [151, 4], korvoReadFile: [152, 2],
    korvoReadFileLine: [153, 3], korvoWriteFile: [154, 3], korvoShellExecute: [170, 2],
  };
  const available = typeof global.external === "object" && global.external !== null &&
                    typeof global.external.korvoApiCall === "function";
  for (const [name, [number, count]] of Object.entries(functions)) {
    global[name] = function (...args) {
      while (args.length < count) args.push(undefined);
      return available ? global.external.korvoApiCall(number, args) : undefined;
    };
  }
  global.korvoAvailable = available;
})(window);
