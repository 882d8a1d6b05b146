// The reader movie: shows an item's pages one by one inside the program's movie window.
//
// The program drives it through ExternalInterface. The movie registers F_SetFlashVars,
// F_OpenMag and F_ReUserBuyInfo, then asks for its item with C_GetOpenMag; the program may answer
// from inside that call or later, so nothing here waits on it. Every page address goes through
// C_ShiftPath, because only the program knows where the item's files are served from.
// Enter turns to the next page, as the "next" button does.
//
// The start file ("stream" for a free item, "stream2" for a paid one) is UTF-8 text, one entry a
// line, a key and its value split at the first space:
//
//   # a comment; blank lines are skipped too
//   title <the item's name, shown in the top bar>
//   page <address of one page picture, as the item names it>
//
// Pages are shown in the order listed. Unknown keys are skipped so that later lists can add keys.
import flash.display.Loader;
import flash.display.Sprite;
import flash.display.StageAlign;
import flash.display.StageScaleMode;
import flash.events.Event;
import flash.events.IOErrorEvent;
import flash.events.KeyboardEvent;
import flash.events.MouseEvent;
import flash.events.SecurityErrorEvent;
import flash.external.ExternalInterface;
import flash.net.URLLoader;
import flash.net.URLLoaderDataFormat;
import flash.net.URLRequest;
import flash.text.TextField;
import flash.text.TextFieldAutoSize;
import flash.text.TextFormat;
import flash.text.TextFormatAlign;
import flash.ui.Keyboard;
import flash.utils.ByteArray;

class Reader extends Sprite {
    static inline var FRAME = 0x1E1F22;
    static inline var BAR = 0x2B2D31;
    static inline var BAR_LINE = 0x3A3C42;
    static inline var TOP_BAR = 48;
    static inline var BOTTOM_BAR = 56;
    static inline var MARGIN = 20;

    var background = new Sprite();
    var pageHolder = new Sprite();
    var topBar = new Sprite();
    var bottomBar = new Sprite();
    var title:TextField;
    var counter:TextField;
    var notice:TextField;
    var prevButton:Button;
    var nextButton:Button;
    var actions:Array<Button> = [];
    var banner:Banner;

    var pages:Array<String> = [];
    var loaders:Array<Loader> = [];
    var current = 0;
    // Counts F_OpenMag calls, so that loads begun for an earlier item are ignored when they end.
    var opening = 0;

    // The program's own view of the item and user; the movie shows the pages the same for all.
    var itemType = "";
    var userId = "";

    static function main() {
        var stage = flash.Lib.current.stage;
        stage.scaleMode = StageScaleMode.NO_SCALE;
        stage.align = StageAlign.TOP_LEFT;
        flash.Lib.current.addChild(new Reader());
    }

    public function new() {
        super();
        addChild(background);
        addChild(pageHolder);
        addChild(topBar);
        addChild(bottomBar);

        title = label(16, 0xE8E8E8, TextFormatAlign.LEFT);
        topBar.addChild(title);
        for (a in [["购买", "C_UserPriceBuy"], ["订阅", "JS_subscribe"], ["登录", "ShowLoginDlg"], ["关闭", "JS_closeWin"]]) {
            var call = a[1];
            var b = new Button(a[0], 88, 32, call == "C_UserPriceBuy" ? 0xD9822B : 0x44474F);
            b.addEventListener(MouseEvent.CLICK, function(_) callHost(call));
            actions.push(b);
            topBar.addChild(b);
        }

        prevButton = new Button("上一页", 100, 36, 0x44474F);
        nextButton = new Button("下一页", 100, 36, 0x44474F);
        prevButton.addEventListener(MouseEvent.CLICK, function(_) show(current - 1));
        nextButton.addEventListener(MouseEvent.CLICK, function(_) show(current + 1));
        counter = label(15, 0xE8E8E8, TextFormatAlign.CENTER);
        bottomBar.addChild(prevButton);
        bottomBar.addChild(counter);
        bottomBar.addChild(nextButton);

        notice = label(15, 0xB0B3B8, TextFormatAlign.CENTER);
        addChild(notice);
        banner = new Banner();
        addChild(banner);

        setNotice("正在打开…");
        updateCounter();
        addEventListener(Event.ADDED_TO_STAGE, onStage);
    }

    function onStage(_) {
        stage.addEventListener(Event.RESIZE, function(_) layout());
        // Enter is the reader's key: the program passes it on from its window (its OK key).
        stage.addEventListener(KeyboardEvent.KEY_DOWN, function(e:KeyboardEvent) {
            if (e.keyCode == Keyboard.ENTER)
                show(current + 1);
        });
        layout();
        if (!ExternalInterface.available) {
            setNotice("无法与程序通信");
            return;
        }
        // A callback that receives more arguments than it declares throws in the player, so each
        // takes whatever it is given.
        ExternalInterface.addCallback("F_SetFlashVars", Reflect.makeVarArgs(setFlashVars));
        ExternalInterface.addCallback("F_OpenMag", Reflect.makeVarArgs(openMag));
        ExternalInterface.addCallback("F_ReUserBuyInfo", Reflect.makeVarArgs(userBuyInfo));
        ExternalInterface.call("C_GetOpenMag");
    }

    static function arg(args:Array<Dynamic>, i:Int):String {
        return i < args.length && args[i] != null ? Std.string(args[i]) : "";
    }

    function setFlashVars(args:Array<Dynamic>):Dynamic {
        userId = arg(args, 2);
        itemType = arg(args, 6);
        return null;
    }

    function openMag(args:Array<Dynamic>):Dynamic {
        var address = arg(args, 0);
        var mine = ++opening;
        pages = [];
        loaders = [];
        current = 0;
        clearPage();
        updateCounter();
        if (address == "") {
            setNotice("无法打开刊物");
            return null;
        }
        setNotice("正在打开…");
        // Read as bytes and decoded here: the list is UTF-8 whatever the player takes text for.
        var list = new URLLoader();
        list.dataFormat = URLLoaderDataFormat.BINARY;
        list.addEventListener(Event.COMPLETE, function(_) {
            if (mine != opening)
                return;
            var bytes:ByteArray = list.data;
            readList(bytes.readUTFBytes(bytes.length));
        });
        var failed = function(_) {
            if (mine == opening)
                setNotice("无法打开刊物");
        };
        list.addEventListener(IOErrorEvent.IO_ERROR, failed);
        list.addEventListener(SecurityErrorEvent.SECURITY_ERROR, failed);
        list.load(new URLRequest(address));
        return null;
    }

    function readList(text:String) {
        var found = [];
        for (raw in text.split("\n")) {
            var line = StringTools.trim(raw);
            if (line == "" || line.charAt(0) == "#")
                continue;
            var space = line.indexOf(" ");
            var key = space < 0 ? line : line.substr(0, space);
            var value = space < 0 ? "" : StringTools.trim(line.substr(space + 1));
            if (key == "title")
                title.text = value;
            else if (key == "page" && value != "")
                found.push(value);
        }
        // Resolved once, in list order, so the program sees each page's address asked for once.
        for (rel in found) {
            var r:Dynamic = ExternalInterface.call("C_ShiftPath", rel);
            pages.push(r == null ? "" : Std.string(r));
        }
        if (pages.length == 0) {
            setNotice("刊物中没有页面");
            updateCounter();
            return;
        }
        show(0);
    }

    function show(index:Int) {
        if (index < 0 || index >= pages.length)
            return;
        current = index;
        clearPage();
        updateCounter();
        if (pages[index] == "") {
            setNotice("本页无法显示");
            return;
        }
        var loader = loaders[index];
        if (loader == null) {
            loader = new Loader();
            loaders[index] = loader;
            var shown = index;
            loader.contentLoaderInfo.addEventListener(Event.COMPLETE, function(_) {
                if (loaders[shown] == loader && current == shown)
                    showLoaded(loader);
            });
            loader.contentLoaderInfo.addEventListener(IOErrorEvent.IO_ERROR, function(_) {
                if (loaders[shown] != loader)
                    return;
                loaders[shown] = null; // asked again when the page is turned to again
                if (current == shown)
                    setNotice("本页无法显示");
            });
            setNotice("正在载入…");
            loader.load(new URLRequest(pages[index]));
        } else if (loader.content != null) {
            showLoaded(loader);
        } else {
            setNotice("正在载入…");
        }
    }

    function showLoaded(loader:Loader) {
        setNotice("");
        clearPage();
        pageHolder.addChild(loader);
        fitPage();
    }

    function clearPage() {
        while (pageHolder.numChildren > 0)
            pageHolder.removeChildAt(0);
        pageHolder.graphics.clear();
    }

    function fitPage() {
        if (pageHolder.numChildren == 0)
            return;
        var page = pageHolder.getChildAt(0);
        var w = page.width / page.scaleX, h = page.height / page.scaleY;
        if (w <= 0 || h <= 0)
            return;
        var areaW = stage.stageWidth - 2 * MARGIN, areaH = stage.stageHeight - TOP_BAR - BOTTOM_BAR - 2 * MARGIN;
        var scale = Math.min(areaW / w, areaH / h);
        if (scale <= 0)
            return;
        page.scaleX = page.scaleY = scale;
        page.x = Math.round((stage.stageWidth - w * scale) / 2);
        page.y = Math.round(TOP_BAR + MARGIN + (areaH - h * scale) / 2);
        var g = pageHolder.graphics;
        g.clear();
        g.beginFill(0x000000, 0.45);
        g.drawRect(page.x + 4, page.y + 6, w * scale, h * scale);
        g.endFill();
    }

    function userBuyInfo(args:Array<Dynamic>):Dynamic {
        banner.say(arg(args, 1), arg(args, 0) == "1");
        layout();
        return null;
    }

    function callHost(name:String) {
        if (ExternalInterface.available)
            ExternalInterface.call(name);
    }

    function setNotice(text:String) {
        notice.text = text;
        notice.visible = text != "";
        layout();
    }

    function updateCounter() {
        counter.text = pages.length == 0 ? "– / –" : (current + 1) + " / " + pages.length;
        prevButton.enabled = current > 0;
        nextButton.enabled = current + 1 < pages.length;
    }

    // The bars are fixed in height and the page gets what is left, so the buttons stay where a
    // reader's hand expects them at any window size: actions at the top right, turning at the
    // bottom centre.
    function layout() {
        if (stage == null)
            return;
        var w = stage.stageWidth, h = stage.stageHeight;
        var g = background.graphics;
        g.clear();
        g.beginFill(FRAME);
        g.drawRect(0, 0, w, h);
        g.endFill();

        g = topBar.graphics;
        g.clear();
        g.beginFill(BAR);
        g.drawRect(0, 0, w, TOP_BAR);
        g.endFill();
        g.beginFill(BAR_LINE);
        g.drawRect(0, TOP_BAR - 1, w, 1);
        g.endFill();
        var x = w - 16;
        var i = actions.length;
        while (i-- > 0) {
            x -= 88;
            actions[i].x = x;
            actions[i].y = 8;
            x -= 8;
        }
        title.x = 16;
        title.y = (TOP_BAR - title.height) / 2;
        title.width = Math.max(0, x - 24);

        bottomBar.y = h - BOTTOM_BAR;
        g = bottomBar.graphics;
        g.clear();
        g.beginFill(BAR);
        g.drawRect(0, 0, w, BOTTOM_BAR);
        g.endFill();
        g.beginFill(BAR_LINE);
        g.drawRect(0, 0, w, 1);
        g.endFill();
        var cx = Math.round(w / 2);
        prevButton.x = cx - 170;
        prevButton.y = 10;
        counter.x = cx - 60;
        counter.width = 120;
        counter.y = (BOTTOM_BAR - counter.height) / 2;
        nextButton.x = cx + 70;
        nextButton.y = 10;

        notice.width = w;
        notice.x = 0;
        notice.y = TOP_BAR + (h - TOP_BAR - BOTTOM_BAR - notice.height) / 2;

        banner.x = Math.round((w - banner.width) / 2);
        banner.y = h - BOTTOM_BAR - MARGIN - banner.height;
        fitPage();
    }

    // Device text is bold throughout: Ruffle draws plain device text with a built-in Latin font
    // and drops the Chinese characters, while its bold text comes from the system's fonts.
    static function label(size:Int, colour:Int, align:TextFormatAlign):TextField {
        var t = new TextField();
        t.selectable = false;
        t.mouseEnabled = false;
        var f = new TextFormat("_sans", size, colour, true);
        f.align = align;
        t.defaultTextFormat = f;
        t.autoSize = align == TextFormatAlign.CENTER ? TextFieldAutoSize.NONE : TextFieldAutoSize.LEFT;
        t.height = size + 10;
        t.text = " ";
        return t;
    }
}

// A flat button with a hover shade; a disabled one is dimmed and takes no clicks.
class Button extends Sprite {
    var w:Int;
    var h:Int;
    var colour:Int;
    var hover = false;
    public var enabled(default, set) = true;

    public function new(text:String, w:Int, h:Int, colour:Int) {
        super();
        this.w = w;
        this.h = h;
        this.colour = colour;
        buttonMode = true;
        useHandCursor = true;
        mouseChildren = false;
        var t = new TextField();
        t.selectable = false;
        var f = new TextFormat("_sans", 15, 0xFFFFFF, true);
        f.align = TextFormatAlign.CENTER;
        t.defaultTextFormat = f;
        t.text = text;
        t.width = w;
        t.height = 22;
        t.y = (h - 22) / 2;
        addChild(t);
        addEventListener(MouseEvent.ROLL_OVER, function(_) {
            hover = true;
            draw();
        });
        addEventListener(MouseEvent.ROLL_OUT, function(_) {
            hover = false;
            draw();
        });
        draw();
    }

    function set_enabled(v:Bool):Bool {
        enabled = v;
        mouseEnabled = v;
        buttonMode = v;
        alpha = v ? 1.0 : 0.35;
        draw();
        return v;
    }

    function draw() {
        var g = graphics;
        g.clear();
        g.beginFill(hover && enabled ? lighter(colour) : colour);
        g.drawRoundRect(0, 0, w, h, 8, 8);
        g.endFill();
    }

    static function lighter(c:Int):Int {
        var r = Std.int(Math.min(255, ((c >> 16) & 0xFF) + 28));
        var gr = Std.int(Math.min(255, ((c >> 8) & 0xFF) + 28));
        var b = Std.int(Math.min(255, (c & 0xFF) + 28));
        return (r << 16) | (gr << 8) | b;
    }
}

// The answer to a purchase, over the bottom of the page until it is clicked away or replaced.
class Banner extends Sprite {
    var text:TextField;

    public function new() {
        super();
        visible = false;
        buttonMode = true;
        mouseChildren = false;
        text = new TextField();
        text.selectable = false;
        var f = new TextFormat("_sans", 16, 0xFFFFFF, true);
        f.align = TextFormatAlign.CENTER;
        text.defaultTextFormat = f;
        text.autoSize = TextFieldAutoSize.CENTER;
        text.x = 24;
        text.y = 12;
        addChild(text);
        addEventListener(MouseEvent.CLICK, function(_) visible = false);
    }

    public function say(message:String, ok:Bool) {
        text.text = message == "" ? (ok ? "成功" : "失败") : message;
        var w = Math.max(200, text.width + 48), h = text.height + 24;
        var g = graphics;
        g.clear();
        g.beginFill(ok ? 0x2E7D32 : 0xC62828, 0.95);
        g.drawRoundRect(0, 0, w, h, 12, 12);
        g.endFill();
        text.x = (w - text.width) / 2;
        visible = true;
    }
}
