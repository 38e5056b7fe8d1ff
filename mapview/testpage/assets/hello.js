window.assetLoaded = "hello from velmora";
