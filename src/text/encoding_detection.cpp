#include "text/encoding_detection.h"

#include <iconv.h>
#include <unicode/translit.h>
#include <unicode/ucsdet.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "text/unicode.h"

namespace quillora {
namespace {

// Characters that carry most of everyday writing in each language, roughly by frequency.
// Text decoded with the wrong multi-byte encoding turns into rare characters instead.
constexpr std::string_view kCommonSimplified =
    "的一是不了在人有我他这个们中来上大为和国地到以说时要就出会可也你对生能而子那得于着下自之年过"
    "发后作里用道行所然家种事成方多经么去法学如都同现当没动面起看定天分还进好小部其些主样理心她本前"
    "开但因只从想实日军者意无力它与长把机十民第公此已工使情明性知全三又关点正业外将两高间由问很最重"
    "并物手应战向头文体政美相见被利什二等产或新己制身果加西斯月话合回特代内信表化老给世位次度门任常"
    "先海通教儿原东声提立及比员解水名真论处走义各入几口认条平系气题活尔更别打女变四神总何电数安少报"
    "才结反受目太量再感建务做接必场件计管期市直德资命山金指克许统区保至队形社便空决治展马科司五基眼"
    "书非则听白却界达光放强即像难且权思王象完设式色路记南品住告类求据程北边死张该交规万取拉格望觉术"
    "领共确传师观清今切院让识候带导争运笑飞风步改收根干造言联持组每济车亲极林服快办议往元英士证近失"
    "转夫令准布始怎呢存未远叫台单影具罗字爱击流备兵连调深商算质团集百需价花党华城石级整府离况亚请技"
    "际约示复病息究线似官火断精满支视消越器容照须九增研写称企八功吗包片史委乎查轻易早曾除农找装广显"
    "吧阿李标谈吃图念六引历首医局突专费号尽另周较注语仅考落青随选列武红响虽推势参希古众构房半节土投"
    "某案黑维革划敌致陈律足态护七兴派孩验责营星够章音跟志底站严巴例防族供效续施留讲型料终答紧黄绝奇"
    "察母京段依批群项故按河米围江织害斗双境客纪采举杀攻父苏密低朝友诉止细愿千值仍男钱破网热助倒育属"
    "坐帝限船脸职速刻乐否刚威毛状率甚独球般普怕弹校苦创假久错承印晚兰试股拿脑预谁益阳若哪微尼继送急"
    "血惊伤素药适波夜省初喜卫源食险待述陆习置居劳财环排福纳欢雷警获模充负云停木游龙树疑层冷洲冲射略"
    "范竟句室异激汉村哈策演简卡罪判担州静退既衣您宗积余痛检差富灵协角占配征修皮挥胜降阶审沉坚善妈刘"
    "读啊超免压银买皇养伊怀执副乱抗犯追帮宣佛岁航优怪香著田铁控税左右份穿艺背阵草脚概恶块顿敢守酒岛"
    "托央户烈洋哥索胡款靠评版宝座释景顾弟登货互付伯慢欧换闻危忙核暗姐介坏讨丽良序升监临亮露永呼味野"
    "架域沙掉括舰鱼杂误湾吉减编楚肯测败屋跑梦散温困剑渐封救贵枪缺楼县尚毫移娘朋画班智亦耳恩短掌恐遗"
    "固席松秘谢鲁遇康虑幸均销钟诗藏赶剧票损忽巨炮旧端探湖录叶春乡附吸予礼港雨呀板庭妇归睛饭额含顺输"
    "摇招婚脱补谓督毒油疗旅泽材灭逐莫笔亡鲜词圣择寻厂睡博勒烟授诺伦岸奥唐卖俄炸载洛健堂旁宫喝借君禁"
    "阴园谋宋避抓荣姑孙逃牙束跳顶玉镇雪午练迫爷篇肉嘴馆遍凡础洞卷坦牛宁纸诸训私庄祖丝翻暴森塔默握戏"
    "隐熟骨访弱蒙歌店鬼软典欲萨伙遭盘爸扩盖弄雄稳忘亿刺拥徒姆杨齐赛趣曲刀床迎冰虚玩析窗醒妻透购替塞"
    "努休虎扬途侵刑绿兄迅套贸毕唯谷轮库迹尤竞街促延震弃甲伟麻川申缓潜闪售灯针哲络抵朱埃抱鼓植纯夏忍"
    "页杰筑折郑贝尊吴秀混臣雅振染盛怒舞圆搞狂措姓残秋培迷诚宽宇猛摆梅毁伸摩盟末乃悲拍丁赵硬麦蒋操耶"
    "阻订彩抽赞魔纷沿喊违妹浪汇币丰蓝殊献桌啦瓦莱援译夺汽烧距裁偏符勇触课敬哭懂墙袭召罚侠厅拜巧侧韩"
    "冒债曼融惯享戴童犹乘挂奖绍厚纵障讯涉彻刊丈爆乌役描洗玛患妙镜唱烦签仙彼弗症仿倾牌陷鸟轰咱菜闭奋"
    "庆撤泪茶疾缘播朗杜奶季丹狗尾仪偷奔珠虫驻孔宜艾桥淡翼恨繁寒伴叹旦愈潮粮缩罢聚径恰挑袋灰捕徐珍幕"
    "映裂泰隔启尖忠累炎暂估泛荒偿横拒瑞忆孤鼻闹羊呆厉衡胞零穷舍码赫婆魂灾洪腿胆津俗辩胸晓劲贫仁偶辑"
    "邦恢赖圈摸仰润堆碰艇稍迟辆废净凶署壁御奉旋冬矿抬蛋晨伏吹鸡倍糊秦盾杯租骑乏隆诊奴摄丧污渡旗甘耐"
    "凭扎抢绪粗肩梁幻菲皆碎宙叔岩荡综爬荷悉蒂返井壮薄悄扫敏碍殖详迪矛霍允幅撒剩凯颗骂赏液番箱贴漫酸"
    "郎腰舒眉忧浮辛恋餐吓挺励辞艘键伍峰尺昨黎辈贯侦滑券崇扰宪绕趋慈乔阅汗枝拖墨胁插箭腊粉泥氏彭拔骗"
    "凤慧媒佩愤扑龄驱惜豪掩兼跃尸肃帕驶堡届欣惠册储飘桑闲惨洁踪勃宾频仇磨递邪撞拟滚奏巡颜剂绩贡疯坡"
    "瞧截燃焦殿伪柳锁逼颇昏劝呈搜勤戒驾漂饮曹朵仔柔俩孟腐幼践籍牧凉牲佳娜浓芳稿竹腹跌逻垂遵脉貌柏狱"
    "猜怜惑陶兽帐饰贷昌叙躺钢沟寄扶铺邓寿惧询汤盗肥尝匆辉奈扣廷澳嘛董迁凝慰厌脏腾幽怨鞋丢埋泉涌辖躲"
    "晋紫艰魏吾慌祝邮吐狠鉴曰械咬邻赤挤弯椅陪割揭韦悟聪雾锋梯猫祥阔誉筹丛牵鸣沈阁穆屈旨袖猎臂蛇贺柱"
    "抛鼠瑟戈牢逊迈欺吨琴衰瓶恼燕仲诱狼池疼卢仗冠粒遥吕玄尘冯抚浅敦纠钻晶岂峡苍喷耗凌敲菌赔涂粹扁亏"
    "寂煤熊恭湿循暖糖赋抑秩帽哀宿踏烂袁侯抖夹昆肝擦猪炼恒慎搬纽纹玻渔磁铜齿跨押怖漠疲叛遣兹祭醉拳弥"
    "斜档稀捷肤疫肿豆削岗晃吞宏癌肚隶履涨耀扭坛拨沃绘伐堪仆郭牺歼墓雇廉契拼惩捉覆刷劫嫌瓜歇雕闷乳串"
    "娃缴唤赢莲霸桃妥瘦搭赴岳嘉舱俊址庞耕锐缝悔邀玲惟斥宅添挖呵讼氧浩羽斤酷掠妖祸侍乙妨贪挣汪尿莉悬"
    "唇翰仓轨枚盐览傅帅庙芬屏寺胖璃愚滴疏萧姿颤丑劣柯寸扔盯辱匹俱辨饿蜂哦腔郁溃谨糟葛苗肠忌溜鸿爵鹏"
    "鹰笼丘桂滋聊挡纲肌茨壳痕碗穴膀卓贤卧膜毅锦欠哩函茫昂薛皱夸豫胃舌剥傲拾窝睁携陵哼棉晴铃填饲渴吻"
    "扮逆脆喘罩卜炉柴愉绳胎蓄眠竭喂傻慕浑奸扇柜悦拦诞饱乾泡贼亭夕爹酬儒姻卵氛泄杆挨僧蜜吟猩遂狭肖甜"
    "霞驳裕顽摘矮秒卿畜咽披辅勾盆疆赌塑畏吵囊嗯泊肺骤缠冈羞瞪吊贾漏斑涛悠鹿俘锡卑葬铭滩嫁催璇翅盒蛮"
    "矣潘歧赐鲍锅廊拆灌勉盲宰佐啥胀扯禧辽抹筒棋裤唉朴咐孕誓喉妄拘链驰栏逝窃艳臭纤棵趁匠盈翁愁瞬婴孝"
    "颈倘浙谅蔽畅赠妮莎尉冻跪闯葡厨鸭颠遮谊吁仑辟瘤嫂陀框谭亨钦庸歉芝吼甫衫摊宴嘱衷娇陕矩浦讶耸裸碧"
    "摧薪淋耻胶屠鹅饥盼脖虹翠崩账萍逢赚撑翔倡绵猴枯巫昭怔渊凑溪蠢禅阐旺寓藤匪伞碑挪琼脂谎慨菩萄狮掘"
    "抄岭晕逮砍掏晰罕挽脾舟痴蔡剪脊弓懒叉拐喃僚捐姊骚拓歪粘柄坑陌窄湘兆崖骄刹鞭芒筋聘钩棍嚷腺弦焰耍"
    "俯厘愣厦恳饶钉寡憾摔叠惹喻谱愧煌徽溶坠煞巾滥洒堵瓷咒姨棒郡浴媚稣淮哎屁漆淫巢吩撰啸滞玫硕钓蝶膝"
    "姚茂躯吏猿寨恕渠戚辰舶颁惶狐讽笨袍嘲啡泼衔倦涵雀旬僵撕肢垄夷逸茅侨舆窑涅蒲谦杭噢弊勋刮郊凄捧浸"
    "砖鼎篮蒸饼亩肾陡爪兔殷贞荐哑炭坟眨搏咳拢舅昧擅爽咖搁禄雌哨巩绢螺裹昔轩谬谍龟媳姜瞎冤鸦蓬巷琳栽"
    "沾诈斋瞒彪厄咨纺罐桶壤糕颂膨谐垒咕隙辣绑宠嘿兑霉挫稽辐乞纱裙嘻哇绣杖塘衍轴攀膊譬斌祈踢肆坎轿棚"
    "泣屡躁邱凰溢椎砸趟帘帆栖窜丸斩堤塌贩厢掀喀乖谜捏阎滨虏匙芦苹卸沼钥株祷剖熙哗劈怯棠胳桩瑰娱娶沫"
    "嗓蹲焚淘嫩韵衬匈钧竖峻豹捞菊鄙魄兜哄颖镑屑蚁壶怡渗秃迦旱哟咸焉谴宛稻铸锻伽詹毙恍贬烛骇芯汁桓坊"
    "驴朽靖佣汝碌迄冀荆崔雁绅珊榜诵傍彦醇笛禽勿娟瞄幢寞睹贿踩霆呜拱妃蔑谕缚诡篷淹腕煮倩卒勘馨逗甸贱"
    "炒灿敞蜡囚栗辜垫妒魁谣寥";

constexpr std::string_view kCommonJapanese =
    "日人年大一本中長出三時行見月分後前生五間上東四今金九入学高円子外八六下来気小七山話女北午百書先"
    "名川千水半男西電校語土木聞食車何南万毎白天母火右読友左休父雨私彼方事自社者発会的同業内合思地言"
    "場国手定実動理用気持作新問題最知明意田体通度部開公取代当世回全連物考関表対続終約特教所現戦員政"
    "治経済性化強力重要以前情報番組映画字幕声優仕事楽好家族友達町駅店近遠早速話題様子結果必要説明確"
    "認利用可能変更追加削除保存設定表示画面音楽写真動画記録時間今日明日昨日毎日週末午前午後朝夜春夏"
    "秋冬天気雨雪風花海空星猫犬魚鳥肉野菜料理飯茶酒水";

constexpr std::string_view kCommonKorean =
    "이다는의에하고을가지로한기서리자도사니대어를인수아시정있나적국일보소해요내게그라들것제전우만면"
    "부성과주상세동으여구무방신문장비야결학위까오조마연되원계선실경공미저없행중개데생거말모물간관유"
    "치화현분했입재진히할회식명안터용설업같났었습날씨좋산책갔은았겠운럼때음심알받못살건통더작금차법"
    "발속집민외월년점좀쪽왜네죠줄엔밖후앞뒤요즘많이너무정말우리저희여러분감사합니다안녕하세요오늘내"
    "일"
    "어제시간사람생각지금다시함께하나둘셋친구가족영화드라마자막노래음악학교회사";

// ASCII and the punctuation every East Asian text uses, in full-width and CJK forms.
bool isCommonPunctuation(char32_t c) {
    return (c >= 0x3000 && c <= 0x3011) || (c >= 0xFF01 && c <= 0xFF1F) || c == 0x2014 ||
           c == 0x2026 || (c >= 0x2018 && c <= 0x201D) || c == 0x00B7 || c == 0x30FB;
}

bool isKana(char32_t c) {
    return (c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FC);
}

bool isHangulSyllable(char32_t c) {
    return c >= 0xAC00 && c <= 0xD7A3;
}

bool isHan(char32_t c) {
    return c >= 0x4E00 && c <= 0x9FFF;
}

enum class Language { simplified, traditional, japanese, korean };

struct CommonCharacters {
    std::unordered_set<char32_t> simplified, traditional, japanese, korean;
};

std::unordered_set<char32_t> setOf(std::string_view text) {
    const std::u32string points = codePoints(text);
    return {points.begin(), points.end()};
}

const CommonCharacters& common() {
    static const CommonCharacters sets = [] {
        CommonCharacters made;
        made.simplified = setOf(kCommonSimplified);
        made.japanese = setOf(kCommonJapanese);
        made.korean = setOf(kCommonKorean);
        // The traditional forms of the same characters, as Taiwan and Hong Kong write them.
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> toTraditional(
            icu::Transliterator::createInstance("Hans-Hant", UTRANS_FORWARD, status));
        std::string traditional(kCommonSimplified);
        if (U_SUCCESS(status) && toTraditional) {
            icu::UnicodeString text = icu::UnicodeString::fromUTF8(kCommonSimplified);
            toTraditional->transliterate(text);
            traditional.clear();
            text.toUTF8String(traditional);
        }
        made.traditional = setOf(traditional);
        return made;
    }();
    return sets;
}

// How typical one character is of text in `language`: 1 for everyday characters, a little for
// other characters of the right script, nothing for what the wrong decoding produces (rare
// ideographs, half-width katakana, private use, symbols).
double weight(char32_t c, Language language) {
    if (isCommonPunctuation(c)) return 1;
    const CommonCharacters& sets = common();
    switch (language) {
        case Language::simplified:
            if (sets.simplified.count(c)) return 1;
            return isHan(c) ? 0.15 : 0;
        case Language::traditional:
            if (sets.traditional.count(c)) return 1;
            return isHan(c) ? 0.15 : 0;
        case Language::japanese:
            if (isKana(c) || sets.japanese.count(c)) return 1;
            if (sets.simplified.count(c) || sets.traditional.count(c)) return 0.6;
            return isHan(c) ? 0.15 : 0;
        case Language::korean:
            if (sets.korean.count(c)) return 1;
            return isHangulSyllable(c) ? 0.3 : 0;
    }
    return 0;
}

struct Candidate {
    const char* name;     // iconv's name, the answer
    const char* icuName;  // ICU detector's name for the same encoding
    bool utf16;
    std::vector<Language> languages;
};

const std::vector<Candidate>& candidates() {
    static const std::vector<Candidate> list = {
        {"GB18030", "GB18030", false, {Language::simplified}},
        {"BIG5", "Big5", false, {Language::traditional}},
        {"SHIFT_JIS", "Shift_JIS", false, {Language::japanese}},
        {"EUC-KR", "EUC-KR", false, {Language::korean}},
        {"UTF-16LE",
         "UTF-16LE",
         true,
         {Language::simplified, Language::traditional, Language::japanese, Language::korean}},
        {"UTF-16BE",
         "UTF-16BE",
         true,
         {Language::simplified, Language::traditional, Language::japanese, Language::korean}},
    };
    return list;
}

// Windows' supersets, tried when the standard encoding refuses a byte sequence.
const char* windowsSuperset(std::string_view name) {
    if (name == "SHIFT_JIS") return "CP932";
    if (name == "EUC-KR") return "CP949";
    if (name == "BIG5") return "CP950";
    return nullptr;
}

// Mean weight of the decoded characters that tell languages apart. Multi-byte encodings leave
// ASCII as it is, so only the other characters count; a UTF-16 reading must also make sense of
// what would be ASCII.
double score(const std::string& decoded, const Candidate& candidate) {
    double total = 0;
    size_t counted = 0;
    for (const char32_t c : codePoints(decoded)) {
        if (c < 0x80) {
            if (!candidate.utf16) continue;
            const bool plain = c >= 0x20 || c == '\n' || c == '\r' || c == '\t';
            total += plain ? 1 : 0;
            ++counted;
            continue;
        }
        double best = 0;
        for (const Language language : candidate.languages) {
            best = std::max(best, weight(c, language));
        }
        total += best;
        ++counted;
    }
    return counted == 0 ? 0 : total / static_cast<double>(counted);
}

// ICU's confidence (0-100) for each candidate name it considers.
std::vector<std::pair<std::string, int>> icuOpinion(std::string_view bytes) {
    std::vector<std::pair<std::string, int>> opinion;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCharsetDetector, decltype(&ucsdet_close)> detector(ucsdet_open(&status),
                                                                        &ucsdet_close);
    if (U_FAILURE(status)) return opinion;
    ucsdet_setText(detector.get(), bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    int32_t count = 0;
    const UCharsetMatch** matches = ucsdet_detectAll(detector.get(), &count, &status);
    if (U_FAILURE(status)) return opinion;
    for (int32_t i = 0; i < count; ++i) {
        UErrorCode matchStatus = U_ZERO_ERROR;
        const char* name = ucsdet_getName(matches[i], &matchStatus);
        const int32_t confidence = ucsdet_getConfidence(matches[i], &matchStatus);
        if (U_SUCCESS(matchStatus) && name) opinion.emplace_back(name, confidence);
    }
    return opinion;
}

constexpr size_t kSampleLimit = 64 * 1024;

}  // namespace

std::optional<std::string> recodeStrictly(std::string_view bytes, const std::string& from,
                                          const std::string& to, bool truncated) {
    iconv_t converter = ::iconv_open(to.c_str(), from.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::unique_ptr<void, decltype(&::iconv_close)> owner(converter, &::iconv_close);
    std::string out(bytes.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (::iconv(converter, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) {
            continue;
        }
        if (errno == EINVAL && truncated) break;  // cut inside the last character
        return std::nullopt;                      // EILSEQ, EINVAL, or no room (cannot happen)
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::optional<std::string> decodeStrictly(std::string_view bytes, const std::string& encoding,
                                          bool truncated) {
    return recodeStrictly(bytes, encoding, "UTF-8", truncated);
}

bool isSingleByteEncodingName(std::string_view name) {
    static constexpr std::array<std::string_view, 9> kPrefixes = {
        "ISO-8859-", "WINDOWS-125", "MAC-",  "IBM8",      "KOI8",
        "TIS-620",   "VISCII",      "CP125", "HZ-GB-2312"};  // HZ: seven-bit, and unknown to iconv
    std::string upper(name);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return std::any_of(kPrefixes.begin(), kPrefixes.end(),
                       [&](std::string_view prefix) { return upper.rfind(prefix, 0) == 0; });
}

std::optional<std::string> detectEastAsianEncoding(std::string_view bytes) {
    const bool truncated = bytes.size() > kSampleLimit;
    if (truncated) bytes = bytes.substr(0, kSampleLimit);
    const bool hasHighOrNul = std::any_of(bytes.begin(), bytes.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x80 || c == '\0';
    });
    if (!hasHighOrNul) return std::nullopt;
    const bool hasNul = bytes.find('\0') != std::string_view::npos;
    // Well-formed UTF-8 with characters beyond ASCII is UTF-8; other encodings almost never are.
    if (!hasNul && isValidUtf8(truncated ? bytes.substr(0, bytes.size() - 3) : bytes)) {
        return std::nullopt;
    }

    struct Scored {
        std::string name;
        const Candidate* candidate;
        double score;
    };
    std::vector<Scored> scored;
    for (const Candidate& candidate : candidates()) {
        if (!candidate.utf16 && hasNul) continue;  // NUL is never part of these texts
        std::string name = candidate.name;
        auto decoded = decodeStrictly(bytes, name, truncated);
        if (!decoded && windowsSuperset(name)) {
            name = windowsSuperset(name);
            decoded = decodeStrictly(bytes, name, truncated);
        }
        if (!decoded) continue;
        scored.push_back({name, &candidate, score(*decoded, candidate)});
    }
    if (scored.empty()) return std::nullopt;
    std::sort(scored.begin(), scored.end(),
              [](const Scored& a, const Scored& b) { return a.score > b.score; });
    constexpr double kConvincing = 0.5;
    constexpr double kClose = 0.1;
    if (scored.front().score < kConvincing) return std::nullopt;

    // Close readings: the one ICU's detector trusts most among them.
    std::vector<const Scored*> close;
    for (const Scored& s : scored) {
        if (scored.front().score - s.score <= kClose) close.push_back(&s);
    }
    if (close.size() > 1) {
        for (const auto& [icuName, confidence] : icuOpinion(bytes)) {
            (void)confidence;  // listed best first
            for (const Scored* s : close) {
                if (icuName == s->candidate->icuName) return s->name;
            }
        }
    }
    return scored.front().name;
}

}  // namespace quillora
